# The plug-in reads vorn.ini beside itself when VORN_CONFIG is not set, and VORN_CONFIG wins
# when it is. A copy of PLUGIN goes into WORK with INI as vorn.ini; HOST (under WINE, when
# given) runs SCENARIO against the copy.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
get_filename_component(name ${PLUGIN} NAME)
file(COPY ${PLUGIN} DESTINATION ${WORK})
configure_file(${INI} ${WORK}/vorn.ini COPYONLY)
set(run ${WINE} ${HOST} run --quiet --plugin ${WORK}/${name} ${SCENARIO})
execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=VORN_CONFIG ${run}
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "with vorn.ini beside ${name}: exit ${status}\n${out}${err}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E env VORN_CONFIG=${OTHER} ${run}
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 1 OR NOT "${out}${err}" MATCHES "actual:   command TP 'text='")
    message(FATAL_ERROR "with VORN_CONFIG set, expected its (empty) label, got ${status}\n${out}${err}")
endif()
message("vorn.ini beside ${name} read; VORN_CONFIG wins")
