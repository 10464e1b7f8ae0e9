# Packs BUILD as `make dist` does, unpacks the archive into the empty folder WORK and runs the
# example scenario from there with what the archive holds, and nothing else.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/pack ${WORK}/unpacked)
execute_process(COMMAND cpack -G TGZ --config ${BUILD}/CPackConfig.cmake -B ${WORK}/pack
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
file(GLOB archive ${WORK}/pack/vorn-components-*-linux-*.tar.gz)
if(NOT status EQUAL 0 OR NOT archive)
    message(FATAL_ERROR "cpack made no Linux archive (exit ${status}):\n${out}${err}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E tar xzf ${archive} WORKING_DIRECTORY ${WORK}/unpacked)
file(GLOB top ${WORK}/unpacked/*)
# Every shipped component (COMPONENTS, '|' between them), and nothing of the tests'.
string(REPLACE "|" ";" COMPONENTS "${COMPONENTS}")
foreach(file vorn-host ${COMPONENTS} vorn.ini demo.vorn INSTALL.txt)
    if(NOT EXISTS ${top}/${file})
        message(FATAL_ERROR "${archive}: expected ${file} in it")
    endif()
endforeach()
file(GLOB plugins RELATIVE ${top} ${top}/*.so)
list(SORT plugins)
set(shipped ${COMPONENTS})
list(SORT shipped)
if(NOT plugins STREQUAL shipped)
    message(FATAL_ERROR "${archive}: holds the plug-ins '${plugins}', expected '${shipped}'")
endif()
# Its INSTALL.txt speaks of this archive's files, as they are run from its folder.
file(READ ${top}/INSTALL.txt install)
if(NOT install MATCHES "\\./vorn-host validate \\./Contact_Tile\\.so" OR install MATCHES "\\.dll")
    message(FATAL_ERROR "${archive}: INSTALL.txt is not the Linux one:\n${install}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=VORN_CONFIG ./vorn-host run --quiet
                        --plugin ./Contact_Tile.so demo.vorn
                WORKING_DIRECTORY ${top} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "${top}: the example scenario failed (exit ${status}):\n${out}${err}")
endif()
message("${archive}: ${out}")
