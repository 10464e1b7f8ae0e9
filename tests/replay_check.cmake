# A failing life, shrunk, and replayed exactly as the validator prints the command, gives the
# same verdict: for each entry of PLUGINS (a list, "|" between them, each PLUGIN@STEPS or
# PLUGIN@STEPS@CHECK; the check is random unless named) and each seed of SEEDS, the check's
# shrunk life has at most STEPS steps (the size of a minimal one written by hand) and its replay
# fails with the fault the validator named (its rule, or its crash).
# HOST and OUT (the folder for the replays) given.
string(REPLACE "|" ";" plugins "${PLUGINS}")
string(REPLACE "|" ";" seeds "${SEEDS}")
set(replays 0)
file(REMOVE_RECURSE ${OUT})
foreach(entry ${plugins})
    if(NOT entry MATCHES "^(.*)@([0-9]+)(@([a-z-]+))?$")
        message(FATAL_ERROR "PLUGINS: '${entry}' is not PLUGIN@STEPS[@CHECK]")
    endif()
    set(plugin "${CMAKE_MATCH_1}")
    set(most "${CMAKE_MATCH_2}")
    set(check "${CMAKE_MATCH_4}")
    if(NOT check)
        set(check random)
    endif()
    foreach(seed ${seeds})
        execute_process(COMMAND ${HOST} validate --seed ${seed} --iterations 5 --only ${check} --out ${OUT} ${plugin}
                        RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
        if(status EQUAL 0)
            continue() # this seed's lives did not meet the fault
        endif()
        if(NOT status EQUAL 1 OR NOT out MATCHES "(FAILED|CRASHED) +${check}: [^\n]*(\\[[a-z-]+\\]|crashed \\(signal [0-9]+\\)|ended the process)[^\n]*\n        shrunk from [0-9]+ steps to ([0-9]+) [^\n]*\n *replay: vorn-host ([^\n]+)")
            message(FATAL_ERROR "${plugin} seed ${seed}: expected a failing life of ${check}, shrunk, that names its replay, got ${status}:\n${out}${err}")
        endif()
        set(rule "${CMAKE_MATCH_2}")
        if(CMAKE_MATCH_3 GREATER most)
            message(FATAL_ERROR "${plugin} seed ${seed}: shrunk to ${CMAKE_MATCH_3} steps, more than the ${most} of a minimal life:\n${out}")
        endif()
        separate_arguments(command UNIX_COMMAND "${CMAKE_MATCH_4}")
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
message("${replays} failing lives shrunk and replayed as printed, each with the same verdict")
