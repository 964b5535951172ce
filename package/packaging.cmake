# The release package of a Windows build, QuibDemo-<version>-win32.zip
# (target "package"), included by the top-level CMakeLists.txt:
# the program, the stand-in host library beside it, and the two texts for
# Windows users, all at the top level of the zip.
#
# The 64-bit build makes QuibDemo-<version>-win64-standin.zip, for machines
# that test and run that build: a 64-bit program cannot load the host
# client's own vellquib.dll, which is a 32-bit library, so its name and its
# README say that it runs with the stand-in (or a 64-bit host library) only.
# The programs the package holds, built together by the target quib_shipped.
set(QUIB_SHIPPED QuibDemo vellquib vellhost)
install(TARGETS ${QUIB_SHIPPED} RUNTIME DESTINATION .)
add_custom_target(quib_shipped)
add_dependencies(quib_shipped ${QUIB_SHIPPED})
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(QUIB_PACKAGE_SUFFIX win64-standin)
    set(QUIB_PACKAGE_BUILD_NOTE [[

THIS IS THE 64-BIT BUILD. It runs only with the stand-in vellquib.dll that
comes with it, or with a 64-bit build of the host library. The host client's
own vellquib.dll is a 32-bit library, and a 64-bit program cannot load it:
to use the demo with the real host client, take the 32-bit build,
QuibDemo-@PROJECT_VERSION@-win32.zip.
]])
    set(QUIB_PACKAGE_RUNNING [[
Unpack the zip into a folder of its own and start QuibDemo.exe. Nothing needs
to be installed. The program is built for 64-bit Windows 7 and later; it has
no command line and writes no files and no registry keys.]])
    set(QUIB_PACKAGE_REAL_HOST [[
The vellquib.dll in this folder is a 64-bit stand-in, and this 64-bit build
of the demo cannot load the host library's own vellquib.dll, which is a
32-bit library: put that one beside QuibDemo.exe and the program ends with a
message that it cannot be loaded. With the real host client, use the 32-bit
build, QuibDemo-@PROJECT_VERSION@-win32.zip, and put the host library's
vellquib.dll in its folder in place of its stand-in.]])
else()
    set(QUIB_PACKAGE_SUFFIX win32)
    set(QUIB_PACKAGE_BUILD_NOTE "")
    set(QUIB_PACKAGE_RUNNING [[
Unpack the zip into a folder of its own and start QuibDemo.exe. Nothing needs
to be installed. The program is built for Windows 7 and later, 32-bit or
64-bit; it has no command line and writes no files and no registry keys.]])
    set(QUIB_PACKAGE_REAL_HOST [[
The vellquib.dll in this folder is a stand-in. To use the demo with the real
host client, put the host library's own vellquib.dll in this folder in place
of the stand-in, beside QuibDemo.exe. The demo itself stays the same.]])
endif()
# Windows users read the texts with CR LF line ends: configure_file makes
# them for the lines of the template, the texts put in bring their own.
foreach(text QUIB_PACKAGE_BUILD_NOTE QUIB_PACKAGE_RUNNING QUIB_PACKAGE_REAL_HOST)
    string(CONFIGURE "${${text}}" ${text} @ONLY)
    string(REPLACE "\n" "\r\n" ${text} "${${text}}")
endforeach()
configure_file(${CMAKE_CURRENT_LIST_DIR}/README.txt.in package/README.txt @ONLY NEWLINE_STYLE CRLF)
configure_file(LICENSE package/LICENSE.txt @ONLY NEWLINE_STYLE CRLF)
install(FILES ${CMAKE_BINARY_DIR}/package/README.txt ${CMAKE_BINARY_DIR}/package/LICENSE.txt
        DESTINATION .)
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME QuibDemo)
set(CPACK_PACKAGE_FILE_NAME QuibDemo-${PROJECT_VERSION}-${QUIB_PACKAGE_SUFFIX})
set(QUIB_PACKAGE_FILE ${CPACK_PACKAGE_FILE_NAME}.zip)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_VERBATIM_VARIABLES ON)
include(CPack)
