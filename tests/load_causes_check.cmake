# Files that are not plug-ins: vorn-host names each cause with the file and exits 2, never a
# crash (a truncated .so used to kill it with SIGBUS inside dlopen). PLUGIN (a built .so, cut
# short here), TEXT (any text file) and HOST given.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
execute_process(COMMAND head -c 10000 ${PLUGIN} OUTPUT_FILE ${WORK}/truncated.so)
file(WRITE ${WORK}/empty.so "")
foreach(case "truncated.so|a truncated file: it has 10000 bytes"
             "empty.so|an empty file"
             "${TEXT}|not a library")
    string(REPLACE "|" ";" case "${case}")
    list(GET case 0 file)
    list(GET case 1 why)
    if(NOT IS_ABSOLUTE ${file})
        set(file ${WORK}/${file})
    endif()
    execute_process(COMMAND ${HOST} validate ${file}
                    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
    string(FIND "${err}" "cannot load ${file}: ${why}" at)
    if(NOT status EQUAL 2 OR at EQUAL -1)
        message(FATAL_ERROR "${file}: expected exit 2 and 'cannot load ${file}: ${why}', got ${status}:\n${out}${err}")
    endif()
endforeach()
message("every cause named")
