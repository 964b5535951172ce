# Runs the example plug-in against the scripted stand-in (cmake -P).
# -DEMULATOR (may be empty), -DPROGRAM, -DSOURCE (this folder), -DWORK (a
# folder to run in). Fails when its output or the call log differ from the
# expected files, or when a malformed script does not make InitDDE return 4
# with the script's line in the log.

function(run_plugin script out log)
    file(REMOVE ${WORK}/${log})
    execute_process(
        COMMAND ${CMAKE_COMMAND} -E env VELLQUIB_SCRIPT=${script} VELLQUIB_LOG=${log}
                ${EMULATOR} ${PROGRAM}
        WORKING_DIRECTORY ${WORK}
        OUTPUT_VARIABLE output ERROR_VARIABLE errors RESULT_VARIABLE code TIMEOUT 90)
    string(REPLACE "\r" "" output "${output}")
    set(${out} "${output}" PARENT_SCOPE)
    set(${out}_errors "${errors}" PARENT_SCOPE)
    set(${out}_code "${code}" PARENT_SCOPE)
    set(log_text "")
    if(EXISTS ${WORK}/${log})
        file(READ ${WORK}/${log} log_text)
    endif()
    # The time at the start of each line differs from run to run.
    string(REGEX REPLACE "\n[0-9][0-9]:[0-9][0-9]:[0-9][0-9]\\.[0-9][0-9][0-9] " "\n"
           log_text "\n${log_text}")
    string(SUBSTRING "${log_text}" 1 -1 log_text)
    set(${out}_log "${log_text}" PARENT_SCOPE)
endfunction()

function(expect_same what actual expected_file)
    file(READ ${expected_file} expected)
    if(NOT actual STREQUAL expected)
        message(FATAL_ERROR "${what} differs from ${expected_file}.\n"
                            "--- expected\n${expected}--- actual\n${actual}---")
    endif()
endfunction()

configure_file(${SOURCE}/hello_plugin.script ${WORK}/hello_plugin.script COPYONLY)
run_plugin(hello_plugin.script run run.log)
if(NOT run_code EQUAL 0)
    message(FATAL_ERROR "hello_plugin ended with ${run_code}: ${run_errors}\n${run}")
endif()
expect_same("The example's output" "${run}" ${SOURCE}/hello_plugin.expected)
expect_same("The call log" "${run_log}" ${SOURCE}/hello_plugin.log.expected)

# A malformed script: no link, and the error names the line.
file(WRITE ${WORK}/malformed.script "QuibCommunicate 0\n  text soon \"x\"\n")
run_plugin(malformed.script bad bad.log)
if(NOT bad STREQUAL "InitDDE: 4\n")
    message(FATAL_ERROR "With a malformed script the example printed:\n${bad}")
endif()
foreach(place IN ITEMS bad_log bad_errors)
    if(NOT "${${place}}" MATCHES "script malformed\\.script line 2: unknown timing \"soon\"")
        message(FATAL_ERROR "${place} does not name the script's line:\n${${place}}")
    endif()
endforeach()
