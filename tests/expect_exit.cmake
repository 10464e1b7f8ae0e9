# Runs COMMAND (a ;-list) and checks its exit status and that its output matches PATTERN.
execute_process(COMMAND ${COMMAND} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status STREQUAL EXIT)
    message(FATAL_ERROR "exit status ${status}, expected ${EXIT}\n${out}${err}")
endif()
if(NOT "${out}${err}" MATCHES "${PATTERN}")
    message(FATAL_ERROR "output does not match '${PATTERN}':\n${out}${err}")
endif()
message("${out}${err}")
