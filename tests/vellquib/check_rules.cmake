# The checker of the stand-in bites (cmake -P): runs rule_breaker once per
# rule with VELLQUIB_CHECK=1 and expects exactly that rule's id on standard
# error and in the call log, and nothing for "none"; then the fatal mode, the
# limit of reports per rule, and one report word for word. Every id must be
# listed in the interface header and in the stand-in's README.
# -DEMULATOR (may be empty), -DPROGRAM (rule_breaker), -DWORK (a folder to run
# in), -DDOCS (the header and the README).

cmake_policy(SET CMP0007 NEW)

# rule_breaker's switch, and the id it must bring ("-": none).
set(rules
    none                      "-"
    unload-before-kill        VQ-UNLOAD-BEFORE-KILL
    thread-caller             VQ-THREAD-CALLER
    call-in-callback          VQ-CALL-IN-CALLBACK
    no-message-loop           VQ-NO-MESSAGE-LOOP
    null-argument             VQ-NULL-ARGUMENT
    buffer-not-writable       VQ-BUFFER-NOT-WRITABLE
    repeat-not-as-left        VQ-REPEAT-NOT-AS-LEFT
    buffer-written-after-call VQ-BUFFER-WRITTEN-AFTER-CALL
    retry-after-refused       VQ-RETRY-AFTER-REFUSED
    repeat-without-register   VQ-REPEAT-WITHOUT-REGISTER
    retry-unbounded           VQ-RETRY-UNBOUNDED
    retry-without-status      VQ-RETRY-WITHOUT-STATUS
    call-before-init          VQ-CALL-BEFORE-INIT
    init-twice                VQ-INIT-TWICE
    init-after-kill           VQ-INIT-AFTER-KILL
    name-changed              VQ-NAME-CHANGED
    call-after-kill           VQ-CALL-AFTER-KILL)

# break_rule(rule out [times [NAME=value...]]): runs the program; sets out (its
# standard error), out_log (the call log) and out_code.
function(break_rule rule out)
    set(times 1)
    if(ARGC GREATER 2)
        set(times ${ARGV2})
    endif()
    list(SUBLIST ARGN 1 -1 more)
    set(log ${WORK}/rule_breaker-${rule}.log)
    file(REMOVE ${log})
    execute_process(
        COMMAND ${CMAKE_COMMAND} -E env VELLQUIB_CHECK=1 VELLQUIB_LOG=${log} ${more}
                ${EMULATOR} ${PROGRAM} ${rule} ${times}
        WORKING_DIRECTORY ${WORK}
        OUTPUT_QUIET ERROR_VARIABLE errors RESULT_VARIABLE code TIMEOUT 60)
    string(REPLACE "\r" "" errors "${errors}")
    set(${out} "${errors}" PARENT_SCOPE)
    set(${out}_code "${code}" PARENT_SCOPE)
    set(text "")
    if(EXISTS ${log})
        file(READ ${log} text)
    endif()
    set(${out}_log "${text}" PARENT_SCOPE)
endfunction()

# The distinct ids in a text, sorted.
function(ids_in text out)
    string(REGEX MATCHALL "VQ-[A-Z-]*[A-Z]" found "${text}")
    list(REMOVE_DUPLICATES found)
    list(SORT found)
    set(${out} "${found}" PARENT_SCOPE)
endfunction()

set(failures "")
foreach(doc IN LISTS DOCS)
    file(READ ${doc} text)
    foreach(id IN LISTS rules)
        if(id MATCHES "^VQ-" AND NOT text MATCHES "${id}")
            string(APPEND failures "${doc} does not list ${id}\n")
        endif()
    endforeach()
endforeach()
list(LENGTH rules n)
math(EXPR last "${n} - 1")
foreach(i RANGE 0 ${last} 2)
    math(EXPR j "${i} + 1")
    list(GET rules ${i} rule)
    list(GET rules ${j} id)
    if(id STREQUAL "-")
        set(id "")
    endif()
    break_rule(${rule} run)
    ids_in("${run}" on_stderr)
    ids_in("${run_log}" in_log)
    if(NOT run_code EQUAL 0 OR NOT "${on_stderr}" STREQUAL "${id}" OR NOT "${in_log}" STREQUAL "${id}")
        string(APPEND failures "${rule}: expected [${id}], exit code ${run_code}, "
                               "standard error [${on_stderr}], log [${in_log}]\n${run}\n")
    elseif(id AND NOT run MATCHES "vellquib: (error|warning) ${id}: [^\n]*; the rule \\([^)]+\\): ")
        string(APPEND failures "${rule}: no report in the fixed form:\n${run}\n")
    endif()
endforeach()

# One report word for word.
break_rule(call-in-callback run)
set(expected "vellquib: error VQ-CALL-IN-CALLBACK: QuibCommunicate(\"RuleBreaker\", 0, \"\", \"Hello\") called inside StatusCallback; the rule (THREADS AND MESSAGES): store what the callback brings and act on it after the call returns.\n")
string(FIND "${run}" "${expected}" at)
if(NOT at EQUAL 0)
    string(APPEND failures "The report differs.\n--- expected\n${expected}--- actual\n${run}---\n")
endif()

# Fatal: the first violation ends the process with 86, saying so.
break_rule(call-after-kill fatal 3 VELLQUIB_CHECK=fatal)
string(REGEX MATCHALL "error VQ-CALL-AFTER-KILL" reports "${fatal}")
list(LENGTH reports count)
if(NOT fatal_code EQUAL 86 OR NOT count EQUAL 1 OR NOT fatal MATCHES "exit code 86")
    string(APPEND failures "fatal: exit code ${fatal_code}, ${count} reports:\n${fatal}\n")
endif()

# The limit: two reports, a last-time note, and the count of all three.
break_rule(call-after-kill limited 3 VELLQUIB_CHECK_LIMIT=2)
string(REGEX MATCHALL "error VQ-CALL-AFTER-KILL" reports "${limited}")
list(LENGTH reports count)
if(NOT count EQUAL 2 OR NOT limited MATCHES "this is the last time"
   OR NOT limited MATCHES "VQ-CALL-AFTER-KILL 3\n")
    string(APPEND failures "limit 2: ${count} reports:\n${limited}\n")
endif()

if(failures)
    message(FATAL_ERROR "${failures}")
endif()
