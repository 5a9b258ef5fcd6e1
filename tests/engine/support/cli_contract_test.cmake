# Checks the contract of the `cobalt` command: usage and help, exit statuses, where output and
# error texts go, the error layout for a main script that cannot be loaded, --check, scripts
# on standard input, and (where `script` can lend a terminal) the interactive prompt.
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

file(WRITE "${WORK_DIR}/empty-input" "")

# Runs cobalt with the given arguments in WORK_DIR and checks the exit status; STDOUT and
# STDERR are EMPTY, EXACT <text> or PREFIX <text>. Standard input is the file INPUT (in
# WORK_DIR), else an empty file, never the terminal ctest may have been started from.
function(check_run label)
  cmake_parse_arguments(PARSE_ARGV 1 run "" "STATUS;INPUT" "ARGS;STDOUT;STDERR")
  if(NOT DEFINED run_INPUT)
    set(run_INPUT empty-input)
  endif()
  execute_process(
    COMMAND "${COBALT}" ${run_ARGS}
    INPUT_FILE "${WORK_DIR}/${run_INPUT}"
    TIMEOUT 60
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
set(usage "usage: cobalt SCRIPT.cbs\n")
foreach(arguments IN ITEMS "--bogus" "a.cbs;b.cbs" "--check" "--check;a.cbs;b.cbs" "--check;--dry-run;a.cbs"
                           "--dry-run" "--dry-run;-" "--dry-run;a.cbs;--responses" "--responses;r.json;a.cbs"
                           "--dry-run;--responses;r.json;--responses;r.json;a.cbs" "--help;a.cbs")
  check_run("${arguments} (usage error)" ARGS ${arguments} STATUS 2 STDOUT EMPTY STDERR PREFIX "${usage}")
endforeach()

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

# --check compiles without running: nothing of the script runs, and a compile error is the
# text a run prints.
file(WRITE "${WORK_DIR}/clean.cbs" "print(\"never\")\nwhile false\n  x = 1\nend\n")
check_run("--check (clean script)" ARGS --check clean.cbs STATUS 0 STDOUT EMPTY STDERR EMPTY)
set(missing_end "CobaltScript error: Missing 'end' for while block\n  at unclosed.cbs:2\n  while true\n            ^\n${hint}")
check_run("--check (script without end)" ARGS --check unclosed.cbs STATUS 1 STDOUT EMPTY STDERR EXACT "${missing_end}")
check_run("(script without end, exact)" ARGS unclosed.cbs STATUS 1 STDOUT EMPTY STDERR EXACT "${missing_end}")
file(WRITE "${WORK_DIR}/unterminated.cbs" "print(\"never\")\nx = \"abc\n")
set(unterminated "CobaltScript error: Unterminated string literal\n  at unterminated.cbs:2, near token '\"abc'\n  x = \"abc\n      ^~~~\n${hint}")
check_run("--check (unterminated string)" ARGS --check unterminated.cbs STATUS 1 STDOUT EMPTY STDERR EXACT "${unterminated}")
check_run("(unterminated string)" ARGS unterminated.cbs STATUS 1 STDOUT EMPTY STDERR EXACT "${unterminated}")
file(WRITE "${WORK_DIR}/bad_label.cbs" "print(\"never\")\nnest here\nend\n")
set(bad_label "CobaltScript error: nest labels must be string literals\n  at bad_label.cbs:2, near token 'here'\n  nest here\n       ^~~~\n${hint}")
check_run("--check (bad nest label)" ARGS --check bad_label.cbs STATUS 1 STDOUT EMPTY STDERR EXACT "${bad_label}")
check_run("(bad nest label)" ARGS bad_label.cbs STATUS 1 STDOUT EMPTY STDERR EXACT "${bad_label}")
check_run("--check (missing script)" ARGS --check no_such_script.cbs STATUS 1 STDOUT EMPTY
          STDERR EXACT "CobaltScript error: Failed to open script file: no_such_script.cbs\n  at no_such_script.cbs\n  \n  ^\n${hint}")
check_run("--check - (clean)" ARGS --check - INPUT clean.cbs STATUS 0 STDOUT EMPTY STDERR EMPTY)
check_run("--check - (script without end)" ARGS --check - INPUT unclosed.cbs STATUS 1 STDOUT EMPTY
          STDERR EXACT "CobaltScript error: Missing 'end' for while block\n  at stdin:2\n  while true\n            ^\n${hint}")

# A script on a pipe or a redirected file runs as a file would, named "stdin" in error texts;
# with no argument an empty input is an empty script.
file(WRITE "${WORK_DIR}/piped.cbs" "x = 6\nprint(x * 7)\n")
check_run("(piped script)" INPUT piped.cbs STATUS 0 STDOUT EXACT "42\n" STDERR EMPTY)
check_run("- (piped script)" ARGS - INPUT piped.cbs STATUS 0 STDOUT EXACT "42\n" STDERR EMPTY)
check_run("(empty input)" STATUS 0 STDOUT EMPTY STDERR EMPTY)
file(WRITE "${WORK_DIR}/piped_fails.cbs" "print(\"first\")\nx = 1 / 0\n")
check_run("- (piped failing script)" ARGS - INPUT piped_fails.cbs STATUS 1 STDOUT EXACT "first\n"
          STDERR EXACT "CobaltScript error: Division by zero\n  at stdin:2, near token '0'\n  x = 1 / 0\n          ^\n${hint}")
check_run("(piped script without end)" INPUT unclosed.cbs STATUS 1 STDOUT EMPTY
          STDERR PREFIX "CobaltScript error: Missing 'end' for while block\n  at stdin:2\n")

# The value a script returns does not matter to the exit status.
file(WRITE "${WORK_DIR}/returns.cbs" "return false\n")
check_run("(script returning false)" ARGS returns.cbs STATUS 0 STDOUT EMPTY STDERR EMPTY)

# The prompt needs a terminal on standard input; util-linux `script` lends one. Each input
# runs once it is complete (a block at its "end"), globals persist, a failure is shown and the
# session goes on, and the end of input ends it with status 0. The terminal echoes the input
# at moments of its own choosing, so only the order of the answers is checked here; the exact
# prompts are checked by the unit tests, which drive the session through plain streams.
find_program(SCRIPT_COMMAND script)
if(SCRIPT_COMMAND)
  execute_process(COMMAND "${SCRIPT_COMMAND}" --version OUTPUT_VARIABLE script_version ERROR_QUIET)
endif()
if(SCRIPT_COMMAND AND script_version MATCHES "util-linux")
  file(WRITE "${WORK_DIR}/session.txt"
       "x = 20\nfunction twice(n)\nreturn n * 2\nend\nprint(twice(x) + 2)\ny = 1 / 0\nprint(\"still\", x)\n")
  execute_process(
    COMMAND "${SCRIPT_COMMAND}" -qec "\"${COBALT}\"" /dev/null
    INPUT_FILE "${WORK_DIR}/session.txt"
    TIMEOUT 30
    WORKING_DIRECTORY "${WORK_DIR}"
    OUTPUT_VARIABLE session
    ERROR_VARIABLE session_err
    RESULT_VARIABLE session_status)
  string(REPLACE "\r" "" session "${session}")
  set(previous -1)
  set(out_of_order "")
  foreach(answer IN ITEMS "> " "42\n"
                  "CobaltScript error: Division by zero\n  at stdin:1, near token '0'\n  y = 1 / 0\n          ^\n${hint}"
                  "still 20\n")
    string(FIND "${session}" "${answer}" found)
    if(found LESS_EQUAL previous)
      string(APPEND out_of_order "  missing or out of order: ${answer}\n")
    else()
      set(previous ${found})
    endif()
  endforeach()
  string(FIND "${session}" ">> " continuation)
  if(continuation EQUAL -1)
    string(APPEND out_of_order "  no continuation prompt\n")
  endif()
  if(NOT session_status STREQUAL "0" OR NOT out_of_order STREQUAL "")
    string(APPEND failures "cobalt (interactive prompt): status ${session_status}\n${out_of_order}output:\n${session}${session_err}\n")
  endif()
endif()

if(NOT failures STREQUAL "")
  message(FATAL_ERROR "${failures}")
endif()
