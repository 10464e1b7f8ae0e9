# Builds script components. A component is a folder NAME/ holding
#   NAME.h                        the class NAME, derived from vorn_script_helper
#   *.cpp                         its code
#   load_vorn_client_script.cpp   the export, one line: VORN_COMPONENT_EXPORT(NAME)
#   scenarios/*.vorn              its behaviour, run by vorn-host against the built plug-in
#   tests/*.cpp                   its GoogleTests, if it has any: one test program each, linked
#                                 with its code and the tests' support (tests/support/)
# and one line in the CMakeLists.txt of the folder that holds it:
#   vorn_add_component(NAME [TEST_ONLY])
#
# That makes
#   NAME_code   its code without the export, a static library for tests and tools, so that any
#               number of components link into one program
#   NAME        the loadable plug-in: NAME.so / NAME.dll in <build>/<folder>/NAME/, no "lib"
#               prefix, exporting load_vorn_client_script and nothing else, with no undefined
#               symbol on Linux and no runtime DLL beyond the system's on Windows
# and registers it: its scenarios, validation and GoogleTests, the Windows tests (its DLL's
# scenarios, validation and version resource), fuzzing and the packages take every registered
# component. TEST_ONLY marks a component that exists for the tests and is not shipped. Files
# are found when the build is configured, and a new one makes the next build configure again.

set(VORN_EXPORTS_MAP ${CMAKE_CURRENT_LIST_DIR}/exports.map)
set(VORN_VERSION_RC ${CMAKE_CURRENT_LIST_DIR}/version.rc.in)

function(vorn_add_component name)
    cmake_parse_arguments(PARSE_ARGV 1 arg "TEST_ONLY" "" "")
    set(dir ${CMAKE_CURRENT_SOURCE_DIR}/${name})
    set(export ${dir}/load_vorn_client_script.cpp)
    if(NOT EXISTS ${dir}/${name}.h OR NOT EXISTS ${export})
        message(FATAL_ERROR "component ${name}: expected ${dir}/${name}.h and ${export}")
    endif()
    file(GLOB sources CONFIGURE_DEPENDS ${dir}/*.cpp)
    list(REMOVE_ITEM sources ${export})
    file(GLOB scenarios CONFIGURE_DEPENDS ${dir}/scenarios/*.vorn)
    file(GLOB tests CONFIGURE_DEPENDS ${dir}/tests/*.cpp)

    add_library(${name}_code STATIC ${sources})
    target_include_directories(${name}_code PUBLIC ${dir})
    target_link_libraries(${name}_code PUBLIC vorn_script_helper)
    vorn_target_options(${name}_code)

    add_library(${name} MODULE ${export})
    if(WIN32)
        # The DLL carries the project's version as a Windows version resource.
        set(VORN_RC_NAME ${name})
        string(REPLACE "." "," VORN_RC_VERSION "${PROJECT_VERSION}.0")
        configure_file(${VORN_VERSION_RC} ${CMAKE_CURRENT_BINARY_DIR}/${name}_version.rc @ONLY)
        target_sources(${name} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${name}_version.rc)
    endif()
    target_link_libraries(${name} PRIVATE ${name}_code)
    set_target_properties(${name} PROPERTIES PREFIX "" LIBRARY_OUTPUT_DIRECTORY
                                                       ${CMAKE_CURRENT_BINARY_DIR}/${name})
    vorn_target_options(${name})
    if(WIN32)
        # Self-contained: only KERNEL32 and msvcrt are imported; no libstdc++/libgcc DLLs.
        target_link_options(${name} PRIVATE -static -static-libgcc -static-libstdc++
                            -Wl,--no-undefined -s)
    else()
        target_link_options(${name} PRIVATE -Wl,--no-undefined -Wl,-z,defs
                            -Wl,--version-script=${VORN_EXPORTS_MAP})
        set_property(TARGET ${name} APPEND PROPERTY LINK_DEPENDS ${VORN_EXPORTS_MAP})
    endif()

    # Where the plug-in lands, relative to the build folder: the Windows tests find the DLL of a
    # Windows build at the same place.
    file(RELATIVE_PATH output ${CMAKE_BINARY_DIR} ${CMAKE_CURRENT_BINARY_DIR}/${name})
    set_property(GLOBAL APPEND PROPERTY VORN_COMPONENTS ${name})
    set_property(GLOBAL PROPERTY VORN_COMPONENT_${name}_OUTPUT ${output})
    set_property(GLOBAL PROPERTY VORN_COMPONENT_${name}_SCENARIOS "${scenarios}")
    set_property(GLOBAL PROPERTY VORN_COMPONENT_${name}_TESTS "${tests}")
    set_property(GLOBAL PROPERTY VORN_COMPONENT_${name}_TEST_ONLY ${arg_TEST_ONLY})
    # What ships goes into the packages (`make dist`), beside vorn-host.
    if(NOT arg_TEST_ONLY)
        install(TARGETS ${name} LIBRARY DESTINATION . RUNTIME DESTINATION .)
    endif()
endfunction()

# The registered components, in the order of registration.
function(vorn_components out)
    get_property(names GLOBAL PROPERTY VORN_COMPONENTS)
    set(${out} ${names} PARENT_SCOPE)
endfunction()

# A component's scenario files, its GoogleTest sources, whether it ships, and the path of its
# plug-in inside a build folder.
function(vorn_component_scenarios name out)
    get_property(value GLOBAL PROPERTY VORN_COMPONENT_${name}_SCENARIOS)
    set(${out} ${value} PARENT_SCOPE)
endfunction()
function(vorn_component_tests name out)
    get_property(value GLOBAL PROPERTY VORN_COMPONENT_${name}_TESTS)
    set(${out} ${value} PARENT_SCOPE)
endfunction()
# The components that ship (not TEST_ONLY), in the order of registration.
function(vorn_shipped_components out)
    get_property(names GLOBAL PROPERTY VORN_COMPONENTS)
    set(shipped "")
    foreach(name ${names})
        get_property(test_only GLOBAL PROPERTY VORN_COMPONENT_${name}_TEST_ONLY)
        if(NOT test_only)
            list(APPEND shipped ${name})
        endif()
    endforeach()
    set(${out} ${shipped} PARENT_SCOPE)
endfunction()
function(vorn_component_plugin name build suffix out)
    get_property(output GLOBAL PROPERTY VORN_COMPONENT_${name}_OUTPUT)
    set(${out} ${build}/${output}/${name}${suffix} PARENT_SCOPE)
endfunction()

# Links every registered component's code into target, with a generated table of them for
# tools that take any component (vorn_component_table.h).
function(vorn_link_components target)
    vorn_components(names)
    set(includes "")
    set(rows "")
    foreach(name ${names})
        string(APPEND includes "#include \"${name}.h\"\n")
        string(APPEND rows "    {\"${name}\", &vorn_create_component<${name}>},\n")
        target_link_libraries(${target} PRIVATE ${name}_code)
    endforeach()
    set(file ${CMAKE_CURRENT_BINARY_DIR}/${target}_components.cpp)
    file(CONFIGURE OUTPUT ${file} CONTENT
"// Made by vorn_link_components(): every registered component.
#include \"vorn_component_table.h\"
${includes}
const VornComponent vorn_component_table[] = {
${rows}};
const int vorn_component_count = sizeof vorn_component_table / sizeof vorn_component_table[0];
")
    target_sources(${target} PRIVATE ${file})
    target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
endfunction()
