# Checks the usage side of `cobalt --dry-run`: bad command lines and bad responses files are
# usage errors (exit status 2, a message on standard error, nothing run or recorded).
# Usage: cmake -DCOBALT=<cobalt executable> -DWORK_DIR=<scratch dir> -P dry_run_contract_test.cmake
cmake_minimum_required(VERSION 3.25)

foreach(required COBALT WORK_DIR)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "dry_run_contract_test.cmake needs -D${required}=...")
  endif()
endforeach()

file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")
file(WRITE "${WORK_DIR}/bot.cbs" "misskeyMe()\n")
file(WRITE "${WORK_DIR}/broken.json" "{\"i\": [1,}")
file(WRITE "${WORK_DIR}/list.json" "[\"i\"]")
string(REPEAT "[" 1001 open)
string(REPEAT "]" 1001 close)
file(WRITE "${WORK_DIR}/deep.json" "{\"i\": ${open}${close}}")
file(WRITE "${WORK_DIR}/good.json" "{\"i\": {\"id\": 7}}")

set(failures "")

# Runs cobalt in WORK_DIR; the exit status must be `status` and standard error must begin with
# `err_prefix` (empty: standard error must be empty); standard output must be `out`.
function(check label status out err_prefix)
  execute_process(COMMAND "${COBALT}" ${ARGN} WORKING_DIRECTORY "${WORK_DIR}"
                  OUTPUT_VARIABLE actual_out ERROR_VARIABLE actual_err RESULT_VARIABLE actual_status)
  string(LENGTH "${err_prefix}" length)
  string(SUBSTRING "${actual_err}" 0 ${length} err_head)
  if(NOT "${actual_status}" STREQUAL "${status}" OR NOT "${actual_out}" STREQUAL "${out}"
     OR NOT "${err_head}" STREQUAL "${err_prefix}" OR ("${err_prefix}" STREQUAL "" AND NOT "${actual_err}" STREQUAL ""))
    string(APPEND failures "${label}: status ${actual_status} (expected ${status})\n"
                           "  stdout: ${actual_out}  expected: ${out}\n"
                           "  stderr: ${actual_err}  expected to begin: ${err_prefix}\n")
    set(failures "${failures}" PARENT_SCOPE)
  endif()
endfunction()

check("records and answers" 0 "REQUEST i {}\n" "" --dry-run --responses good.json bot.cbs)
check("no script" 2 "" "usage: cobalt" --dry-run)
check("responses without a file" 2 "" "usage: cobalt" --dry-run --responses bot.cbs)
check("two scripts" 2 "" "usage: cobalt" --dry-run bot.cbs bot.cbs)
check("unknown option" 2 "" "usage: cobalt" --dry-run --verbose bot.cbs)
check("missing responses file" 2 "" "cobalt: cannot read the responses file missing.json\n"
      --dry-run --responses missing.json bot.cbs)
check("responses file not JSON" 2 "" "cobalt: the responses file broken.json is not valid JSON: "
      --dry-run --responses broken.json bot.cbs)
check("responses file not an object" 2 "" "cobalt: the responses file list.json must hold a JSON object"
      --dry-run --responses list.json bot.cbs)
check("responses file too deep" 2 "" "cobalt: the responses file deep.json nests deeper than 1000 levels\n"
      --dry-run --responses deep.json bot.cbs)

if(NOT failures STREQUAL "")
  message(FATAL_ERROR "cobalt --dry-run contract broken:\n${failures}")
endif()
