# The functions every folder's CMakeLists.txt uses to build its targets the
# project's way. Included once by the top-level CMakeLists.txt (and so by the
# fuzzers' project, which adds the tree as a subfolder).

# Warnings are errors in the project's own code.
function(quib_warnings target)
    if(MSVC)
        target_compile_options(${target} PRIVATE /W4 /WX /utf-8)
    else()
        target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
    endif()
endfunction()

# quib_include_root(<target> <folder>...)
# Lets <target> include the headers of each folder of the tree (a layer such
# as platform, text, bridge, app, or a folder like tests/support) by their
# path from the top, "<folder>/name.h". Each folder gets an include root of
# its own in the build tree, which holds that folder alone (a link to it), so
# a target sees the folders it names and those of the targets it links, and
# an #include that reaches into any other folder does not compile. A library
# passes its roots on to whoever links it; an executable keeps them.
#
# A new target calls it once with its own folder and the folders whose headers
# it reads without linking their library (e.g. app/control_ids.h):
#     quib_include_root(my_tool scripts/my_tool app)
#
# Where the file system makes no links (Windows without the right to make
# them), every root is the top of the tree: the build works, without the
# check.
function(quib_include_root target)
    get_filename_component(tree ${CMAKE_CURRENT_FUNCTION_LIST_DIR} DIRECTORY)
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "INTERFACE_LIBRARY")
        set(scope INTERFACE)
    elseif(type STREQUAL "EXECUTABLE")
        set(scope PRIVATE)
    else()
        set(scope PUBLIC)
    endif()
    foreach(folder ${ARGN})
        if(NOT IS_DIRECTORY ${tree}/${folder})
            message(FATAL_ERROR "quib_include_root(${target}): no folder ${folder} in the tree")
        endif()
        string(MAKE_C_IDENTIFIER ${folder} name)
        set(root ${CMAKE_BINARY_DIR}/include-roots/${name})
        if(NOT IS_SYMLINK ${root}/${folder} AND NOT EXISTS ${root}/${folder})
            get_filename_component(parent ${root}/${folder} DIRECTORY)
            file(MAKE_DIRECTORY ${parent})
            file(CREATE_LINK ${tree}/${folder} ${root}/${folder} RESULT failed SYMBOLIC)
            if(failed)
                message(STATUS "No link for the include root of ${folder} (${failed}): "
                               "the tree's top is used, and includes across folders are not checked")
                set(root ${tree})
            endif()
        endif()
        target_include_directories(${target} ${scope} ${root})
    endforeach()
endfunction()

# A DLL's exports from a .def file written for 32-bit MinGW, whose stdcall
# functions are named Name@N inside the object files ("Name = Name@N"). MSVC's
# linker matches the plain names to its own decoration, and 64-bit Windows has
# one calling convention and no decoration, so for those the internal names
# are dropped from the list.
function(quib_def_file target def)
    if(MSVC OR CMAKE_SIZEOF_VOID_P EQUAL 8)
        file(READ ${def} text)
        string(REGEX REPLACE "[ \t]*=[ \t]*[A-Za-z_][A-Za-z0-9_]*@[0-9]+" "" text "${text}")
        get_filename_component(name ${def} NAME)
        file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/plain-${name} "${text}")
        target_sources(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/plain-${name})
    else()
        target_sources(${target} PRIVATE ${def})
    endif()
endfunction()

# Unicode entry points (wWinMain, wmain) with MinGW; MSVC needs no flag.
function(quib_unicode_entry target)
    if(MINGW)
        target_link_options(${target} PRIVATE -municode)
    endif()
endfunction()

# The binaries of the release package: with MinGW the runtime is linked
# statically (they run without any MinGW DLL beside them) and symbols are
# stripped from the release build (they are half of the file). MSVC keeps its
# symbols in a separate .pdb.
function(quib_shipped target)
    if(MINGW)
        target_link_options(${target} PRIVATE -static $<$<CONFIG:Release>:-s>)
    endif()
endfunction()
