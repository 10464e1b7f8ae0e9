# A failing random life, replayed exactly as the validator prints the command, gives the same
# verdict: for each plug-in of PLUGINS (a list, "|" between them) and each seed of SEEDS, the
# replay fails with the rule the validator named. HOST given.
string(REPLACE "|" ";" plugins "${PLUGINS}")
string(REPLACE "|" ";" seeds "${SEEDS}")
set(replays 0)
foreach(plugin ${plugins})
    foreach(seed ${seeds})
        execute_process(COMMAND ${HOST} validate --seed ${seed} --iterations 5 --only random ${plugin}
                        RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
        if(status EQUAL 0)
            continue() # this seed's lives did not meet the fault
        endif()
        if(NOT status EQUAL 1 OR NOT out MATCHES "FAILED  random: [^\n]*(\\[[a-z-]+\\])[^\n]*\n *replay: vorn-host ([^\n]+)")
            message(FATAL_ERROR "${plugin} seed ${seed}: expected a failing life that names its replay, got ${status}:\n${out}${err}")
        endif()
        set(rule "${CMAKE_MATCH_1}")
        separate_arguments(command UNIX_COMMAND "${CMAKE_MATCH_2}")
        execute_process(COMMAND ${HOST} ${command} --quiet
                        RESULT_VARIABLE status OUTPUT_VARIABLE replayed ERROR_VARIABLE replayedErr)
        string(FIND "${replayed}${replayedErr}" "${rule}" found)
        if(NOT status EQUAL 1 OR found EQUAL -1)
            message(FATAL_ERROR "${plugin} seed ${seed}: 'vorn-host ${CMAKE_MATCH_2}' should fail with ${rule}, got ${status}:\n${replayed}${replayedErr}")
        endif()
        math(EXPR replays "${replays} + 1")
    endforeach()
endforeach()
if(replays EQUAL 0)
    message(FATAL_ERROR "no life failed: nothing was replayed")
endif()
message("${replays} failing lives replayed as printed, each with the same verdict")
