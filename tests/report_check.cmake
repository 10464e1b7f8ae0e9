# `validate --out DIR` writes all four results, and never over what a run before it wrote:
# report.json conforms to its schema (and the schema check fails a report that does not),
# report.xml is JUnit as CI readers take it, the replay the report names is there, and a second
# run into the same folder writes its replay under a name of its own.
# HOST, PLUGIN (one that fails random and create-delete), SCHEMA, SCHEMA_CHECK, JUNIT_CHECK and
# OUT given.
file(REMOVE_RECURSE ${OUT})
foreach(run 1 2)
    execute_process(COMMAND ${HOST} validate --seed 9 --iterations 10 --level 1 --out ${OUT} ${PLUGIN}
                    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT status EQUAL 1 OR NOT out MATCHES "SKIPPED many-alive: level 2 \\(run with --level 2\\)"
       OR NOT out MATCHES "1 passed, 2 failed, 10 skipped\nreports: ")
        message(FATAL_ERROR "run ${run}: expected two failures and ten skipped checks, got ${status}:\n${out}${err}")
    endif()
endforeach()
foreach(name report.json report.xml report.html)
    if(NOT EXISTS ${OUT}/${name})
        message(FATAL_ERROR "no ${name} in ${OUT}")
    endif()
endforeach()
execute_process(COMMAND ${SCHEMA_CHECK} ${SCHEMA} ${OUT}/report.json RESULT_VARIABLE status
                OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "report.json does not conform to its schema:\n${out}${err}")
endif()
file(READ ${OUT}/report.json json)
string(REPLACE "\"outcome\":\"passed\"" "\"outcome\":\"fine\"" broken "${json}")
string(REPLACE "\"sha256\":\"" "\"sha256\":\"x" broken "${broken}")
file(WRITE ${OUT}/broken.json "${broken}")
execute_process(COMMAND ${SCHEMA_CHECK} ${SCHEMA} ${OUT}/broken.json RESULT_VARIABLE status
                OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 1 OR NOT err MATCHES "/checks/[0-9]/outcome: \"fine\" is none of" OR NOT err MATCHES "/plugin/sha256: ")
    message(FATAL_ERROR "a report that does not conform passed the schema check (${status}):\n${out}${err}")
endif()
execute_process(COMMAND ${JUNIT_CHECK} ${OUT}/report.xml 13 2 "ended without sending AS"
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "report.xml:\n${out}${err}")
endif()
string(JSON count LENGTH "${json}" checks)
math(EXPR last "${count} - 1")
foreach(i RANGE ${last})
    string(JSON name GET "${json}" checks ${i} name)
    if(name STREQUAL "random")
        set(random ${i})
    endif()
endforeach()
string(JSON replay GET "${json}" checks ${random} failure replay)
string(JSON before GET "${json}" checks ${random} failure shrunk stepsBefore)
string(JSON after GET "${json}" checks ${random} failure shrunk stepsAfter)
if(NOT EXISTS ${OUT}/${replay} OR NOT after LESS before)
    message(FATAL_ERROR "report.json names the replay ${replay} (${before} steps shrunk to ${after}), which is not in ${OUT}")
endif()
file(GLOB replays ${OUT}/random-seed9-*.vorn)
list(LENGTH replays count)
if(NOT count EQUAL 2)
    message(FATAL_ERROR "two runs into one folder should leave two replays of random, found: ${replays}")
endif()
message("four results written, the JSON to its schema, and a second run kept the first's replay")
