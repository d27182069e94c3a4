# Checks a Windows DLL's export table: it names exactly the entry points of exports.def, by
# their plain names (no @N decoration), and nothing else.
#   cmake -DOBJDUMP=<objdump> -DMODULE=<vellix.dll> -DDEF=<exports.def> -P exports_table.cmake
foreach(var OBJDUMP MODULE DEF)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "exports_table.cmake needs -D${var}=...")
  endif()
endforeach()

execute_process(COMMAND "${OBJDUMP}" -p "${MODULE}" OUTPUT_VARIABLE dump RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${MODULE} failed")
endif()

# The name table: the lines after "[Ordinal/Name Pointer] Table" up to the next empty line,
# each ending in a name.
string(FIND "${dump}" "[Ordinal/Name Pointer] Table" at)
if(at LESS 0)
  message(FATAL_ERROR "${MODULE} exports nothing")
endif()
string(SUBSTRING "${dump}" ${at} -1 table)
string(REGEX REPLACE "\n[ \t]*\n.*" "" table "${table}")
string(REGEX MATCHALL "[^ \t\n]+\n" names "${table}\n")
list(REMOVE_AT names 0)  # "Table"
list(TRANSFORM names STRIP)
list(SORT names)

file(STRINGS "${DEF}" def_lines REGEX "^  [A-Za-z]")
list(TRANSFORM def_lines STRIP)
list(SORT def_lines)

if(NOT names STREQUAL def_lines)
  string(REPLACE ";" " " got "${names}")
  string(REPLACE ";" " " want "${def_lines}")
  message(FATAL_ERROR "the export table differs from exports.def\n  exported: ${got}\n  listed:   ${want}")
endif()
list(LENGTH names count)
message(STATUS "${count} exports, all listed, none decorated")
