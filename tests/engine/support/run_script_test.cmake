# Runs one CobaltScript test file through the cobalt command and checks it against the
# annotations written in the file's comments:
#   @@ expect: <line>          the next line of standard output (nothing after the colon: an
#                              empty line); all of them, in order, make up the whole output
#   @@ expect error: <line>    the next line of standard error; when any are present the run
#                              must exit with status 1 and standard error must be exactly
#                              these lines, otherwise it must exit with 0 and say nothing there
#   @@ locale: <name>          run under that locale (for example de_DE.UTF-8), compiled into
#                              LOCALE_DIR first; the test is skipped where that is impossible
#   @@ cobalt-args: <args>     options for cobalt, given before the script name (for example
#                              --dry-run --responses notes.json); separated by spaces
# Usage: cmake -DCOBALT=<cobalt executable> -DSCRIPT=<script.cbs> [-DLOCALE_DIR=<dir>]
#              -P run_script_test.cmake
# The script runs in its own folder and is named by its file name alone, so error texts show
# the same script name on every machine.
cmake_minimum_required(VERSION 3.25)

if(NOT DEFINED COBALT OR NOT DEFINED SCRIPT)
  message(FATAL_ERROR "run_script_test.cmake needs -DCOBALT=... and -DSCRIPT=...")
endif()

# CMake lists are ";"-separated and treat "[", "]" and "\" specially, while scripts and their
# output are full of them. Texts are therefore split into lines only after those bytes have
# been swapped for control bytes that no test uses, and swapped back for display.
string(ASCII 1 SEMICOLON_MARK)
string(ASCII 2 OPEN_MARK)
string(ASCII 3 CLOSE_MARK)
string(ASCII 4 BACKSLASH_MARK)

function(split_lines text out)
  string(REPLACE "\\" "${BACKSLASH_MARK}" text "${text}")
  string(REPLACE ";" "${SEMICOLON_MARK}" text "${text}")
  string(REPLACE "[" "${OPEN_MARK}" text "${text}")
  string(REPLACE "]" "${CLOSE_MARK}" text "${text}")
  string(REPLACE "\n" ";" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

function(restore_line line out)
  string(REPLACE "${BACKSLASH_MARK}" "\\" line "${line}")
  string(REPLACE "${SEMICOLON_MARK}" ";" line "${line}")
  string(REPLACE "${OPEN_MARK}" "[" line "${line}")
  string(REPLACE "${CLOSE_MARK}" "]" line "${line}")
  set(${out} "${line}" PARENT_SCOPE)
endfunction()

# The text of an annotation: what follows the colon, less the one space that separates them.
# (string(REGEX REPLACE "^ " ...) would strip every leading space, not just the first.)
function(annotation_value raw out)
  string(SUBSTRING "${raw}" 0 1 first)
  if("${first}" STREQUAL " ")
    string(SUBSTRING "${raw}" 1 -1 raw)
  endif()
  restore_line("${raw}" raw)
  set(${out} "${raw}" PARENT_SCOPE)
endfunction()

# Collect the annotations.
file(READ "${SCRIPT}" source)
string(REPLACE "\r" "" source "${source}")
split_lines("${source}" source_lines)
set(expected_out "")
set(expected_err "")
set(expects_error FALSE)
set(locale "")
set(cobalt_args "")
foreach(line IN LISTS source_lines)
  if(line MATCHES "@@ locale: *([^ ]+)")
    set(locale "${CMAKE_MATCH_1}")
  elseif(line MATCHES "@@ cobalt-args:(.*)$")
    annotation_value("${CMAKE_MATCH_1}" value)
    separate_arguments(value UNIX_COMMAND "${value}")
    list(APPEND cobalt_args ${value})
  elseif(line MATCHES "@@ expect error:(.*)$")
    annotation_value("${CMAKE_MATCH_1}" value)
    string(APPEND expected_err "${value}\n")
    set(expects_error TRUE)
  elseif(line MATCHES "@@ expect:(.*)$")
    annotation_value("${CMAKE_MATCH_1}" value)
    string(APPEND expected_out "${value}\n")
  endif()
endforeach()

get_filename_component(script_dir "${SCRIPT}" DIRECTORY)
get_filename_component(script_name "${SCRIPT}" NAME)

# A locale is compiled from the system's locale sources into a folder of the build tree, so the
# test needs no locale installed system-wide.
set(command_prefix "")
if(NOT locale STREQUAL "")
  if(NOT DEFINED LOCALE_DIR)
    message(FATAL_ERROR "${script_name} asks for a locale: pass -DLOCALE_DIR=...")
  endif()
  string(REGEX MATCH "^([^.]+)\\.(.+)$" locale_parts "${locale}")
  set(locale_source "${CMAKE_MATCH_1}")
  set(locale_charmap "${CMAKE_MATCH_2}")
  get_filename_component(locale_home "${LOCALE_DIR}/${script_name}" ABSOLUTE)
  find_program(LOCALEDEF localedef)
  set(locale_status 1)
  if(LOCALEDEF AND locale_parts)
    file(MAKE_DIRECTORY "${locale_home}")
    execute_process(
      COMMAND "${LOCALEDEF}" -i "${locale_source}" -f "${locale_charmap}" "${locale_home}/${locale}"
      RESULT_VARIABLE locale_status
      OUTPUT_QUIET ERROR_QUIET)
  endif()
  if(NOT EXISTS "${locale_home}/${locale}/LC_NUMERIC")
    message("SCRIPT TEST SKIPPED: the locale ${locale} cannot be compiled here (localedef ${locale_status})")
    return()
  endif()
  set(command_prefix "${CMAKE_COMMAND}" -E env "LOCPATH=${locale_home}" "LC_ALL=${locale}")
endif()

execute_process(
  COMMAND ${command_prefix} "${COBALT}" ${cobalt_args} "${script_name}"
  WORKING_DIRECTORY "${script_dir}"
  OUTPUT_VARIABLE actual_out
  ERROR_VARIABLE actual_err
  RESULT_VARIABLE status)

# Shows two texts line by line, marking the lines that differ.
function(report_difference what expected actual)
  set(note "")
  string(REGEX REPLACE "\n$" "" expected_trimmed "${expected}")
  string(REGEX REPLACE "\n$" "" actual_trimmed "${actual}")
  if("${expected_trimmed}" STREQUAL "${actual_trimmed}")
    set(note "  (the texts differ only in their final line feed)\n")
  endif()
  set(expected "${expected_trimmed}")
  set(actual "${actual_trimmed}")
  split_lines("${expected}" expected_lines)
  split_lines("${actual}" actual_lines)
  list(LENGTH expected_lines expected_count)
  list(LENGTH actual_lines actual_count)
  set(count ${expected_count})
  if(actual_count GREATER count)
    set(count ${actual_count})
  endif()
  set(report "${what} differs (- expected, + actual, lines marked ! differ):\n")
  math(EXPR last "${count} - 1")
  if(count GREATER 0)
    foreach(index RANGE 0 ${last})
      set(want "<no line>")
      set(got "<no line>")
      if(index LESS expected_count)
        list(GET expected_lines ${index} want)
        restore_line("${want}" want)
      endif()
      if(index LESS actual_count)
        list(GET actual_lines ${index} got)
        restore_line("${got}" got)
      endif()
      math(EXPR number "${index} + 1")
      if("${want}" STREQUAL "${got}")
        string(APPEND report "    ${number}: ${want}\n")
      else()
        string(APPEND report "  ! ${number}: - ${want}\n")
        string(APPEND report "  ! ${number}: + ${got}\n")
      endif()
    endforeach()
  endif()
  message("${report}${note}")
endfunction()

set(failed FALSE)
if(expects_error)
  set(expected_status 1)
else()
  set(expected_status 0)
endif()
if(NOT "${status}" STREQUAL "${expected_status}")
  message("${script_name}: exit status ${status}, expected ${expected_status}")
  set(failed TRUE)
endif()
if(NOT "${actual_out}" STREQUAL "${expected_out}")
  report_difference("standard output" "${expected_out}" "${actual_out}")
  set(failed TRUE)
endif()
if(NOT "${actual_err}" STREQUAL "${expected_err}")
  report_difference("standard error" "${expected_err}" "${actual_err}")
  set(failed TRUE)
endif()
if(failed)
  message(FATAL_ERROR "${script_name} failed")
endif()
