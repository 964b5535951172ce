# Runs the example plug-in with the stand-in's checks on against every
# hostile profile (cmake -P): each script of vellquib/hostile/ and each
# VELLQUIB_HOSTILE setting. Fails unless the example ends normally every
# time and the checker reports no rule broken.
# -DEMULATOR (may be empty), -DPROGRAM, -DSCRIPTS (the folder of the
# hostile scripts), -DWORK (a folder to run in).

file(GLOB scripts ${SCRIPTS}/*.script)
set(runs "")
foreach(script IN LISTS scripts)
    list(APPEND runs "VELLQUIB_SCRIPT=${script}")
endforeach()
foreach(profile null negative huge stuck)
    list(APPEND runs "VELLQUIB_HOSTILE=${profile}")
endforeach()

set(failures "")
foreach(setting IN LISTS runs)
    execute_process(
        COMMAND ${CMAKE_COMMAND} -E env VELLQUIB_CHECK=1 ${setting} ${EMULATOR} ${PROGRAM}
        WORKING_DIRECTORY ${WORK}
        OUTPUT_VARIABLE output ERROR_VARIABLE errors RESULT_VARIABLE code TIMEOUT 90)
    string(REPLACE "\r" "" output "${output}")
    string(LENGTH "${output}" length)
    if(length GREATER 2000)
        string(SUBSTRING "${output}" 0 2000 output)
    endif()
    if(NOT code EQUAL 0 OR NOT output MATCHES "closed\n$|^InitDDE: 0\n" OR errors MATCHES "VQ-")
        string(APPEND failures "${setting}: exit code ${code}\n${errors}\n${output}\n")
    endif()
endforeach()
if(failures)
    message(FATAL_ERROR "${failures}")
endif()
