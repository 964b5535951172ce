# The exports of a host library, written as a .def file from the list in the
# interface header (VELLQUIB_EXPORTS in include/vellquib.h), so that the list
# is kept in one place only.
#
#   quib_host_exports(<target> [LIBRARY <name>] [NEEDED] [WITHOUT <export>...])
#
# exports every export of the list, or with NEEDED only those the list marks
# needed, less those named after WITHOUT. LIBRARY names the DLL inside it.
#
# 32-bit MinGW names a stdcall function Name@N inside the object files, where
# N is the bytes of its parameters. Every parameter of the interface is a
# pointer or an integer of at most 32 bits, so N is 4 per parameter; a
# wrong count fails the link, never the exported names.
function(quib_host_exports target)
    cmake_parse_arguments(PARSE_ARGV 1 arg "NEEDED" "LIBRARY" "WITHOUT")
    set(header ${PROJECT_SOURCE_DIR}/include/vellquib.h)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${header})
    file(READ ${header} text)
    string(REGEX MATCH "#define VELLQUIB_EXPORTS\\(X\\)[^#]*" list "${text}")
    # X(type, name, (parameters), needed)
    set(entry "X\\([^,]+,[ \t\r\n\\\\]*([A-Za-z0-9_]+),[ \t\r\n\\\\]*\\(([^)]*)\\),[ \t\r\n\\\\]*([01])\\)")
    string(REGEX MATCHALL "${entry}" entries "${list}")
    if(NOT entries)
        message(FATAL_ERROR "no export list (VELLQUIB_EXPORTS) found in ${header}")
    endif()
    set(def "")
    if(arg_LIBRARY)
        string(APPEND def "LIBRARY ${arg_LIBRARY}\n")
    endif()
    string(APPEND def "EXPORTS\n")
    foreach(e IN LISTS entries)
        string(REGEX MATCH "${entry}" _ "${e}")
        set(name ${CMAKE_MATCH_1})
        set(parameters "${CMAKE_MATCH_2}")
        set(needed ${CMAKE_MATCH_3})
        if((arg_NEEDED AND NOT needed) OR name IN_LIST arg_WITHOUT)
            continue()
        endif()
        string(STRIP "${parameters}" parameters)
        set(bytes 0)
        if(NOT parameters STREQUAL "void")
            string(REGEX REPLACE "[^,]" "" commas "${parameters}")
            string(LENGTH "${commas}" count)
            math(EXPR bytes "4 * (${count} + 1)")
        endif()
        string(APPEND def "    ${name} = ${name}@${bytes}\n")
    endforeach()
    set(out ${CMAKE_CURRENT_BINARY_DIR}/${target}.def)
    file(CONFIGURE OUTPUT ${out} CONTENT "${def}")
    quib_def_file(${target} ${out})
endfunction()
