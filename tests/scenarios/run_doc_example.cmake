# Runs the scenario example of a page of the documentation and checks that it prints what the
# page says it prints.
#
#   cmake -DRUNNER=<vellix-run> -DDOC=<page.md> -DNAME=<name> -DWORK=<folder> -P run_doc_example.cmake
#
# The example sits between the lines "<!-- scenario-example -->" and
# "<!-- /scenario-example -->" of the page: its first indented block (four spaces, no blank
# line inside) is the script, its second the exact output. Both are written beside the working
# folder as NAME.vxs and NAME.out, and run as every scenario runs (run_scenario.cmake).

foreach(var RUNNER DOC NAME WORK)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "run_doc_example.cmake needs -D${var}=...")
  endif()
endforeach()

file(READ "${DOC}" page)
string(FIND "${page}" "<!-- scenario-example -->\n" begin)
string(FIND "${page}" "<!-- /scenario-example -->" end)
if(begin EQUAL -1 OR end LESS begin)
  message(FATAL_ERROR "${DOC} has no scenario-example section")
endif()
math(EXPR length "${end} - ${begin}")
string(SUBSTRING "${page}" ${begin} ${length} section)
# Semicolons would split the list of lines below: carry them through as another character.
string(ASCII 1 semicolon)
string(REPLACE ";" "${semicolon}" section "${section}")
string(REGEX MATCHALL "[^\n]*\n" lines "${section}")

set(block 0)
set(inside FALSE)
set(text0 "")
set(text1 "")
foreach(line IN LISTS lines)
  if(line MATCHES "^    (.*)$")
    if(block GREATER 1)
      message(FATAL_ERROR "${DOC}: the scenario example has more than two indented blocks")
    endif()
    string(REPLACE "${semicolon}" ";" code "${CMAKE_MATCH_1}")
    string(APPEND text${block} "${code}")
    set(inside TRUE)
  elseif(inside)
    math(EXPR block "${block} + 1")
    set(inside FALSE)
  endif()
endforeach()
if(text0 STREQUAL "" OR text1 STREQUAL "")
  message(FATAL_ERROR "${DOC}: the scenario example needs a script block and an output block")
endif()

set(dir "${WORK}-example")
file(REMOVE_RECURSE "${dir}")
file(WRITE "${dir}/${NAME}.vxs" "${text0}")
file(WRITE "${dir}/${NAME}.out" "${text1}")
set(SCRIPT "${dir}/${NAME}.vxs")
include(${CMAKE_CURRENT_LIST_DIR}/run_scenario.cmake)
