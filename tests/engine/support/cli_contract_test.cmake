# Checks the contract of the `cobalt` command: usage and help, exit statuses, where output and
# error texts go, and the error layout for a main script that cannot be loaded.
# Usage: cmake -DCOBALT=<cobalt executable> -DEXAMPLE=<examples/hello.cbs> -DWORK_DIR=<scratch dir>
#              -P cli_contract_test.cmake
cmake_minimum_required(VERSION 3.25)

foreach(required COBALT EXAMPLE WORK_DIR)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "cli_contract_test.cmake needs -D${required}=...")
  endif()
endforeach()

set(hint "  hint: check spelling, operators, parentheses, and quote matching\n")
set(failures "")

file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")

# Runs cobalt with the given arguments in WORK_DIR and checks the exit status; `out_check` and
# `err_check` are EMPTY, EXACT <text> or PREFIX <text>.
function(check_run label)
  cmake_parse_arguments(PARSE_ARGV 1 run "" "STATUS" "ARGS;STDOUT;STDERR")
  execute_process(
    COMMAND "${COBALT}" ${run_ARGS}
    WORKING_DIRECTORY "${WORK_DIR}"
    OUTPUT_VARIABLE out
    ERROR_VARIABLE err
    RESULT_VARIABLE status)
  set(problems "")
  if(NOT "${status}" STREQUAL "${run_STATUS}")
    string(APPEND problems "  exit status ${status}, expected ${run_STATUS}\n")
  endif()
  foreach(stream STDOUT STDERR)
    if(stream STREQUAL "STDOUT")
      set(actual "${out}")
    else()
      set(actual "${err}")
    endif()
    list(GET run_${stream} 0 mode)
    list(LENGTH run_${stream} parts)
    set(wanted "")
    if(parts GREATER 1)
      list(GET run_${stream} 1 wanted)
    endif()
    if(mode STREQUAL "EMPTY" AND NOT "${actual}" STREQUAL "")
      string(APPEND problems "  ${stream} should be empty but is:\n${actual}\n")
    elseif(mode STREQUAL "EXACT" AND NOT "${actual}" STREQUAL "${wanted}")
      string(APPEND problems "  ${stream} is:\n${actual}\n  expected:\n${wanted}\n")
    elseif(mode STREQUAL "PREFIX")
      string(LENGTH "${wanted}" length)
      string(SUBSTRING "${actual}" 0 ${length} head)
      if(NOT "${head}" STREQUAL "${wanted}")
        string(APPEND problems "  ${stream} should begin with \"${wanted}\" but is:\n${actual}\n")
      endif()
    endif()
  endforeach()
  if(NOT problems STREQUAL "")
    set(failures "${failures}cobalt ${label}:\n${problems}" PARENT_SCOPE)
  endif()
endfunction()

check_run("--help" ARGS --help STATUS 0 STDOUT PREFIX "usage: cobalt SCRIPT.cbs\n" STDERR EMPTY)
check_run("-h" ARGS -h STATUS 0 STDOUT PREFIX "usage: cobalt SCRIPT.cbs\n" STDERR EMPTY)
check_run("(no argument)" STATUS 2 STDOUT EMPTY STDERR PREFIX "usage: cobalt SCRIPT.cbs\n")
check_run("--bogus" ARGS --bogus STATUS 2 STDOUT EMPTY STDERR PREFIX "usage: cobalt SCRIPT.cbs\n")
check_run("(two scripts)" ARGS a.cbs b.cbs STATUS 2 STDOUT EMPTY STDERR PREFIX "usage: cobalt SCRIPT.cbs\n")

check_run("(example)" ARGS "${EXAMPLE}" STATUS 0
          STDOUT EXACT "Hello from Quill!\nalice has 3 points\nbob has 5 points\ncaught: this error is caught\n"
          STDERR EMPTY)

check_run("(missing script)" ARGS no_such_script.cbs STATUS 1 STDOUT EMPTY
          STDERR EXACT "CobaltScript error: Failed to open script file: no_such_script.cbs\n  at no_such_script.cbs\n  \n  ^\n${hint}")

file(MAKE_DIRECTORY "${WORK_DIR}/folder.cbs")
check_run("(directory)" ARGS folder.cbs STATUS 1 STDOUT EMPTY
          STDERR EXACT "CobaltScript error: Failed to open script file: folder.cbs\n  at folder.cbs\n  \n  ^\n${hint}")

# A failure after some output: the output stays on standard output, the error text alone goes to
# standard error, and an absolute script path is the script name in the error text.
file(WRITE "${WORK_DIR}/fails.cbs" "print(\"first\")\nx = 1 / 0\nprint(\"never\")\n")
check_run("(failing script)" ARGS "${WORK_DIR}/fails.cbs" STATUS 1 STDOUT EXACT "first\n"
          STDERR EXACT "CobaltScript error: Division by zero\n  at ${WORK_DIR}/fails.cbs:2, near token '0'\n  x = 1 / 0\n          ^\n${hint}")

# A script that does not compile never starts.
file(WRITE "${WORK_DIR}/unclosed.cbs" "print(\"never\")\nwhile true\n  x = 1\n")
check_run("(script without end)" ARGS unclosed.cbs STATUS 1 STDOUT EMPTY
          STDERR PREFIX "CobaltScript error: Missing 'end' for while block\n  at unclosed.cbs")

# The value a script returns does not matter to the exit status.
file(WRITE "${WORK_DIR}/returns.cbs" "return false\n")
check_run("(script returning false)" ARGS returns.cbs STATUS 0 STDOUT EMPTY STDERR EMPTY)

if(NOT failures STREQUAL "")
  message(FATAL_ERROR "${failures}")
endif()
