# Runs one scenario script through vellix-run in a fresh working folder and compares.
#
#   cmake -DRUNNER=<vellix-run> -DSCRIPT=<dir>/NAME.vxs -DWORK=<folder> -P run_scenario.cmake
#
# Expected results sit beside the script:
#   NAME.out  the exact standard output (required); NAME.PLATFORM.out instead, when
#             present and -DPLATFORM=... names the system (windows);
#   NAME.args when present, options for vellix-run, one a line, given before the script;
#   NAME.err  when present, the exact standard error, and the run must exit with status 2;
#             the script's path is written as NAME.vxs in it. Without NAME.err the run must
#             exit with 0 and print nothing on standard error.
# The actual outputs are kept beside the working folder (WORK.stdout, WORK.stderr), so a new
# expectation can be reviewed and copied from there.

foreach(var RUNNER SCRIPT WORK)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "run_scenario.cmake needs -D${var}=...")
  endif()
endforeach()

get_filename_component(dir "${SCRIPT}" DIRECTORY)
get_filename_component(name "${SCRIPT}" NAME_WE)
get_filename_component(script_file "${SCRIPT}" NAME)
set(expected_out "${dir}/${name}.out")
# A scenario that prints paths has the system's own expectation beside it where the system
# writes them differently (NAME.windows.out: "\" and Windows roots).
if(DEFINED PLATFORM AND EXISTS "${dir}/${name}.${PLATFORM}.out")
  set(expected_out "${dir}/${name}.${PLATFORM}.out")
endif()
set(expected_err "${dir}/${name}.err")
set(actual_out "${WORK}.stdout")
set(actual_err "${WORK}.stderr")

set(options "")
if(EXISTS "${dir}/${name}.args")
  file(STRINGS "${dir}/${name}.args" options)
endif()

file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
file(REMOVE "${actual_out}" "${actual_err}")

# EMULATOR (wine, for a cross build) runs the program when given.
execute_process(
  COMMAND ${EMULATOR} "${RUNNER}" ${options} "${SCRIPT}"
  WORKING_DIRECTORY "${WORK}"
  RESULT_VARIABLE status
  OUTPUT_FILE "${actual_out}"
  ERROR_FILE "${actual_err}"
  TIMEOUT 120)

# Error locations name the script by its full path; the expectation names it by file name.
file(READ "${actual_err}" err_text)
string(REPLACE "${SCRIPT}" "${script_file}" err_text "${err_text}")
file(WRITE "${actual_err}" "${err_text}")

find_program(DIFF_PROGRAM diff)
set(failures "")

# Compares a produced file with an expected one; on a difference, shows a unified diff (or
# both texts when diff is not installed).
function(compare what expected actual)
  if(NOT EXISTS "${expected}")
    file(READ "${actual}" got)
    set(failures "${failures}${what}: ${expected} does not exist; the run printed:\n${got}\n" PARENT_SCOPE)
    return()
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${expected}" "${actual}" RESULT_VARIABLE same)
  if(same EQUAL 0)
    return()
  endif()
  if(DIFF_PROGRAM)
    execute_process(COMMAND "${DIFF_PROGRAM}" -u --label expected --label actual "${expected}" "${actual}"
                    OUTPUT_VARIABLE shown)
  else()
    file(READ "${expected}" want)
    file(READ "${actual}" got)
    set(shown "--- expected\n${want}\n--- actual\n${got}\n")
  endif()
  set(failures "${failures}${what} differs:\n${shown}\n" PARENT_SCOPE)
endfunction()

compare("standard output" "${expected_out}" "${actual_out}")
if(EXISTS "${expected_err}")
  if(NOT status STREQUAL "2")
    set(failures "${failures}exit status ${status}, expected 2\n")
  endif()
  compare("standard error" "${expected_err}" "${actual_err}")
else()
  if(NOT status STREQUAL "0")
    set(failures "${failures}exit status ${status}, expected 0; standard error:\n${err_text}\n")
  elseif(NOT err_text STREQUAL "")
    set(failures "${failures}unexpected standard error:\n${err_text}\n")
  endif()
endif()

if(failures)
  # Printed as it is: the error modes of message() would reflow the diff.
  message(NOTICE "${failures}")
  message(FATAL_ERROR "scenario ${name} failed")
endif()
