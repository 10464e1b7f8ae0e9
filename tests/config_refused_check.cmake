# The plug-in refuses a vorn.ini beside it that it cannot trust, says why, and labels nothing
# from it: one over the size limit (made here), and one with a NUL byte in the label's line
# (NUL_INI). A copy of PLUGIN goes into WORK; HOST (under WINE, when given) runs SCENARIO.
get_filename_component(name ${PLUGIN} NAME)
string(REPEAT "# a comment line that pads this configuration file past the size limit #\n" 15000 pad)
foreach(case oversized nul_byte)
    set(dir ${WORK}/${case})
    file(REMOVE_RECURSE ${dir})
    file(MAKE_DIRECTORY ${dir})
    file(COPY ${PLUGIN} DESTINATION ${dir})
    if(case STREQUAL "oversized")
        file(WRITE ${dir}/vorn.ini "[instances.StudioA]\nidtext = Studio A\n${pad}")
        set(why "vorn.ini: [0-9]+ bytes, over the 1048576 a configuration file may have: not read")
    else()
        configure_file(${NUL_INI} ${dir}/vorn.ini COPYONLY)
        set(why "vorn.ini:2: a NUL byte at column 13; the line is not used")
    endif()
    execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=VORN_CONFIG
                            ${WINE} ${HOST} run --plugin ${dir}/${name} ${SCENARIO}
                    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT status EQUAL 0 OR NOT "${out}" MATCHES "debug: [^\n]*${why}[^\n]*\n  -> TP 'text=' ")
        message(FATAL_ERROR "${case} vorn.ini beside ${name}: expected exit 0 and the debug "
                            "text '${why}' before an empty label, got exit ${status}\n${out}${err}")
    endif()
    message("${case} vorn.ini beside ${name}: refused, as its debug text says")
endforeach()
