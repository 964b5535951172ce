# Runs the example plug-in against the scripted stand-in (cmake -P).
# -DEMULATOR (may be empty), -DPROGRAM, -DHOST (the stand-in), -DTRACER (the
# tracing vellquib.dll), -DSOURCE (this folder), -DWORK (a folder to run in).
# Fails when its output or the call log differ from the expected files, also
# with the tracer in front of the stand-in, or when a malformed script does
# not make InitDDE return 4 with the script's line in the log.

# run_plugin(script out log [program [NAME=value...]]): runs the program
# (by default PROGRAM) in WORK with the script and the log, and more
# variables if given.
function(run_plugin script out log)
    set(program ${PROGRAM})
    if(ARGC GREATER 3)
        set(program ${ARGV3})
    endif()
    list(SUBLIST ARGN 1 -1 more)
    file(REMOVE ${WORK}/${log})
    execute_process(
        COMMAND ${CMAKE_COMMAND} -E env VELLQUIB_SCRIPT=${script} VELLQUIB_LOG=${log} ${more}
                ${EMULATOR} ${program}
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
    log_lines("${log_text}" log_text)
    set(${out}_log "${log_text}" PARENT_SCOPE)
endfunction()

# A call log without the time at the start of each line, which differs from
# run to run.
function(log_lines text out)
    string(REGEX REPLACE "\n[0-9][0-9]:[0-9][0-9]:[0-9][0-9]\\.[0-9][0-9][0-9] " "\n"
           text "\n${text}")
    string(SUBSTRING "${text}" 1 -1 text)
    set(${out} "${text}" PARENT_SCOPE)
endfunction()

# The calls and callbacks of a call log, without the notes ("!" lines) of the
# library that wrote it.
function(without_notes text out)
    string(REGEX REPLACE "(^|\n)! [^\n]*" "" text "${text}")
    string(REGEX REPLACE "^\n" "" text "${text}")
    set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Fails unless two call logs (without times) hold the same calls and
# callbacks; the libraries' notes may differ.
function(expect_same_calls what actual expected)
    without_notes("${actual}" actual)
    without_notes("${expected}" expected)
    if(NOT actual STREQUAL expected)
        message(FATAL_ERROR "${what} differs.\n--- expected\n${expected}--- actual\n${actual}---")
    endif()
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

# The tracer in front of the stand-in, which it finds beside itself as
# vellquib.host.dll: the same output and the same log from both libraries.
set(traced_dir ${WORK}/traced)
file(REMOVE_RECURSE ${traced_dir})
file(MAKE_DIRECTORY ${traced_dir})
get_filename_component(program_name ${PROGRAM} NAME)
file(COPY_FILE ${PROGRAM} ${traced_dir}/${program_name})
file(COPY_FILE ${TRACER} ${traced_dir}/vellquib.dll)
file(COPY_FILE ${HOST} ${traced_dir}/vellquib.host.dll)
file(REMOVE ${WORK}/traced_trace.log)
run_plugin(hello_plugin.script traced traced.log ${traced_dir}/${program_name}
           VELLQUIB_TRACE_LOG=traced_trace.log)
if(NOT traced_code EQUAL 0)
    message(FATAL_ERROR "hello_plugin through the tracer ended with ${traced_code}: "
                        "${traced_errors}\n${traced}")
endif()
expect_same("The example's output through the tracer" "${traced}" ${SOURCE}/hello_plugin.expected)
expect_same("The call log behind the tracer" "${traced_log}" ${SOURCE}/hello_plugin.log.expected)
file(READ ${WORK}/traced_trace.log trace_text)
log_lines("${trace_text}" trace_text)
expect_same_calls("The tracer's log" "${trace_text}" "${traced_log}")

# A host that writes into the plug-in's buffers and passes bytes outside
# printable ASCII, NULs among them, recorded through the tracer and then
# replayed by the stand-in from the recording: the same output, the same
# calls and callbacks.
file(WRITE ${WORK}/odd.script [=[
InitDDE 0
  message after 10 "Ed\0da" -7 "a\xFFb"
QuibCommunicate "6\0x"
  write message "HELLO"
  message now "Visitor" 1 "x\0y"
QuibCommunicate " 0"
  write avatar "\x01"
QuibCommunicate 0
QuibGetAllText 0
  raw after 60 "a\0b\r\n\xFF0001\0"
]=])
file(REMOVE ${WORK}/odd.record)
run_plugin(odd.script recorded recorded.log ${traced_dir}/${program_name}
           VELLQUIB_TRACE_RECORD=odd.record)
run_plugin(odd.record replayed replayed.log)
if(NOT recorded_code EQUAL 0 OR NOT replayed_code EQUAL 0 OR NOT recorded STREQUAL replayed)
    message(FATAL_ERROR "Recorded (${recorded_code}):\n${recorded}\n"
                        "replayed (${replayed_code}):\n${replayed}")
endif()
expect_same_calls("The replayed log" "${replayed_log}" "${recorded_log}")

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
