# Runs COMMAND (a ;-list; or COMMAND_WORDS, its words joined by "|", where a ;-list cannot be
# passed on) and checks its exit status (EXIT, or "nonzero") and that its output matches
# PATTERN.
if(DEFINED COMMAND_WORDS)
    string(REPLACE "|" ";" COMMAND "${COMMAND_WORDS}")
endif()
execute_process(COMMAND ${COMMAND} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(EXIT STREQUAL "nonzero")
    if(status STREQUAL "0")
        message(FATAL_ERROR "exit status 0, expected a failure\n${out}${err}")
    endif()
elseif(NOT status STREQUAL EXIT)
    message(FATAL_ERROR "exit status ${status}, expected ${EXIT}\n${out}${err}")
endif()
if(NOT "${out}${err}" MATCHES "${PATTERN}")
    message(FATAL_ERROR "output does not match '${PATTERN}':\n${out}${err}")
endif()
message("${out}${err}")
