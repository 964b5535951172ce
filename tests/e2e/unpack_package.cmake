# Makes the release package from what is built (as the "package" target does
# after building) and unpacks it into an empty folder, checking that the zip
# holds exactly the four files at its top level and that the texts have
# Windows line ends.
#   cmake -DCPACK=... -DBUILD_DIR=... -DCONFIG=... -DZIP=... -DDEST=... -P unpack_package.cmake
set(config)
if(CONFIG)
    set(config -C ${CONFIG})
endif()
execute_process(COMMAND ${CPACK} --config CPackConfig.cmake ${config}
                WORKING_DIRECTORY ${BUILD_DIR} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cpack failed: ${result}")
endif()

file(REMOVE_RECURSE ${DEST})
file(MAKE_DIRECTORY ${DEST})
execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${BUILD_DIR}/${ZIP} WORKING_DIRECTORY ${DEST}
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "${ZIP} could not be unpacked: ${result}")
endif()

file(GLOB_RECURSE found LIST_DIRECTORIES true RELATIVE ${DEST} ${DEST}/*)
list(SORT found)
set(expected LICENSE.txt QuibDemo.exe README.txt vellhost.exe vellquib.dll)
if(NOT found STREQUAL expected)
    message(FATAL_ERROR "${ZIP} holds [${found}], expected [${expected}]")
endif()
foreach(text README.txt LICENSE.txt)
    file(READ ${DEST}/${text} bytes HEX)
    string(REGEX REPLACE "(..)" "\\1 " bytes "${bytes}")
    string(REPLACE "0d 0a " "" bytes "${bytes}")
    if(" ${bytes}" MATCHES " 0a ")
        message(FATAL_ERROR "${text} has a line end without CR")
    endif()
endforeach()
message(STATUS "${ZIP} unpacked into ${DEST}: ${found}")
