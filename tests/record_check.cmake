# Records SCENARIO (steps only) into WORK/recorded.vorn with HOST and PLUGIN, then runs the
# recording, which must pass with its expectations; and the recording must expect something.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
set(out ${WORK}/recorded.vorn)
execute_process(COMMAND ${HOST} run --quiet --plugin ${PLUGIN} --record ${out} ${SCENARIO}
                RESULT_VARIABLE status OUTPUT_VARIABLE o ERROR_VARIABLE e)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "recording failed (exit ${status}):\n${o}${e}")
endif()
file(READ ${out} recorded)
foreach(expected "expect SD 'A'" "expect HN 'GPIvalue=1'" "expect debug Instance change code called - Instance=a\\nb\\n" "expect answer useButton=true\\n" "expect AS")
    string(FIND "${recorded}" "${expected}" at)
    if(at LESS 0)
        message(FATAL_ERROR "${out} has no '${expected}':\n${recorded}")
    endif()
endforeach()
execute_process(COMMAND ${HOST} run --quiet --plugin ${PLUGIN} ${out}
                RESULT_VARIABLE status OUTPUT_VARIABLE o ERROR_VARIABLE e)
if(NOT status EQUAL 0 OR NOT o MATCHES "1 passed, 0 failed; expectations: [1-9]")
    message(FATAL_ERROR "the recording does not pass (exit ${status}):\n${o}${e}\n${recorded}")
endif()
message("${out}: ${o}")

# A configuration given with --config, not named by the scenario, is in the recording too: it
# replays as it was made, with its labels.
set(out ${WORK}/recorded_with_config.vorn)
file(WRITE ${WORK}/steps.vorn "create\nparent instance=StudioA\n")
execute_process(COMMAND ${HOST} run --quiet --plugin ${PLUGIN} --config ${CONFIG} --record ${out}
                        ${WORK}/steps.vorn
                RESULT_VARIABLE status OUTPUT_VARIABLE o ERROR_VARIABLE e)
file(READ ${out} recorded)
if(NOT status EQUAL 0 OR NOT recorded MATCHES "\nconfig [^\n]+\ncreate\n.*expect TP 'text=Studio A ON AIR'")
    message(FATAL_ERROR "recording with --config (exit ${status}):\n${o}${e}\n${recorded}")
endif()
execute_process(COMMAND ${HOST} run --quiet --plugin ${PLUGIN} ${out}
                RESULT_VARIABLE status OUTPUT_VARIABLE o ERROR_VARIABLE e)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "the recording made with --config does not pass (exit ${status}):\n${o}${e}\n${recorded}")
endif()
