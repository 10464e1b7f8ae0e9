# The validator's failing random life, written out as a scenario, fails the same way when
# vorn-host runs it: HOST and PLUGIN given.
execute_process(COMMAND ${HOST} validate --seed 7 --iterations 3 --only random ${PLUGIN}
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 1 OR NOT out MATCHES "replay: vorn-host run ([^\n]+\\.vorn)")
    message(FATAL_ERROR "expected a failing check that names its replay, got ${status}:\n${out}${err}")
endif()
set(replay ${CMAKE_MATCH_1})
execute_process(COMMAND ${HOST} run --quiet --plugin ${PLUGIN} ${replay}
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 1 OR NOT "${out}${err}" MATCHES "ended without sending AS")
    message(FATAL_ERROR "${replay}: expected the same failure, got ${status}:\n${out}${err}")
endif()
message("${replay} replays: ${err}")
