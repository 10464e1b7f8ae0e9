# Compiles slot_probe.cpp with CLANGXX for TARGET against the contract header in CONTRACT_DIR and
# checks the slots the host calls: slot 0 the one-slot deleting destructor, slot 1 dispatch
# (of the component) and send (of the host's client), as a host built with Microsoft's
# compiler calls them. With REFUSED set, the compile must fail and say so instead.
#   cmake -DCLANGXX=clang++ -DTARGET=i686-w64-mingw32 -DCONTRACT_DIR=... -DOUT=... -P check_slots.cmake
set(probe ${CMAKE_CURRENT_LIST_DIR}/slot_probe.cpp)
execute_process(
    COMMAND ${CLANGXX} --target=${TARGET} -std=c++17 -ffreestanding -S -o ${OUT} -I${CONTRACT_DIR}
            ${probe}
    RESULT_VARIABLE status ERROR_VARIABLE errors)
if(REFUSED)
    if(status EQUAL 0)
        message(FATAL_ERROR "${probe}: compiled for ${TARGET}; expected the contract to refuse it")
    endif()
    if(NOT errors MATCHES "${REFUSED}")
        message(FATAL_ERROR "${probe}: for ${TARGET}, expected an error matching '${REFUSED}', got:\n${errors}")
    endif()
    message(STATUS "${TARGET}: refused as expected")
    return()
endif()
if(NOT status EQUAL 0)
    message(FATAL_ERROR "${probe}: does not compile for ${TARGET}:\n${errors}")
endif()

file(STRINGS ${OUT} lines)
# The entries of one class's vtable, from the offset-to-top and RTTI words on.
function(vtable class out)
    set(entries "")
    set(inside FALSE)
    foreach(line IN LISTS lines)
        if(line MATCHES "^_*ZTV${class}:")
            set(inside TRUE)
        elseif(inside AND line MATCHES "^[ \t]*\\.(long|quad)[ \t]+([^ \t]+)")
            list(APPEND entries ${CMAKE_MATCH_2})
        elseif(inside)
            break()
        endif()
    endforeach()
    set(${out} ${entries} PARENT_SCOPE)
endfunction()

foreach(check "5Probe;dispatch" "6Client;send")
    list(GET check 0 class)
    list(GET check 1 call)
    vtable(${class} entries)
    list(LENGTH entries count)
    if(count LESS 4)
        message(FATAL_ERROR "${OUT}: no vtable for ${class} found")
    endif()
    list(GET entries 2 slot0)
    list(GET entries 3 slot1)
    if(NOT slot0 MATCHES "vorn_deleting_destructor" OR NOT slot1 MATCHES "${call}")
        list(SUBLIST entries 2 -1 slots)
        string(REPLACE ";" "\n  " slots "${slots}")
        message(FATAL_ERROR "${probe}: for ${TARGET}, expected slot 0 the deleting destructor "
                            "and slot 1 ${call}; the slots are:\n  ${slots}")
    endif()
    message(STATUS "${TARGET} ${class}: slot 0 ${slot0}, slot 1 ${slot1}")
endforeach()
