# Checks the layers by the includes of every file:
#   - the core (src/core/) and its tests (unit/) include only headers of the core's rooms, and
#     the tests their own helpers beside them;
#   - the two ground-floor rooms, which the other rooms build on, include only their own
#     headers: the store (the document) and io (system calls, atomic replacement, blocks);
#   - the command-line tool (tools/vellix/) includes only headers of the core's rooms besides
#     its own;
#   - the simulated host (sim/) and the runner (tools/) include nothing of the module but
#     the contract, <vellix/host_abi.h>, besides their own headers.
#   cmake -DSOURCE=<checkout> -P layering.cmake
if(NOT DEFINED SOURCE)
  message(FATAL_ERROR "layering.cmake needs -DSOURCE=...")
endif()

set(core_rooms store io format files search undo calc exchange)
set(faults "")

# Appends to `faults` every quoted include of `file` that `allowed` (a regex over the
# included name) does not match and that is not a file in one of the folders `local`.
function(check file allowed local)
  file(STRINGS ${file} lines REGEX "^[ \t]*#[ \t]*include")
  foreach(line IN LISTS lines)
    if(NOT line MATCHES "#[ \t]*include[ \t]*[\"<]([^\">]+)[\">]")
      continue()
    endif()
    set(name ${CMAKE_MATCH_1})
    if(line MATCHES "include[ \t]*<" AND NOT name MATCHES "^vellix/")
      continue()  # a system or library header
    endif()
    if(name MATCHES "${allowed}")
      continue()
    endif()
    set(found FALSE)
    foreach(folder IN LISTS local)
      if(EXISTS ${folder}/${name})
        set(found TRUE)
      endif()
    endforeach()
    if(NOT found)
      file(RELATIVE_PATH where ${SOURCE} ${file})
      list(APPEND faults "${where}: ${line}")
    endif()
  endforeach()
  set(faults "${faults}" PARENT_SCOPE)
endfunction()

list(JOIN core_rooms "|" rooms)
file(GLOB_RECURSE core LIST_DIRECTORIES false ${SOURCE}/src/core/*.cc ${SOURCE}/src/core/*.h)
foreach(file IN LISTS core)
  if(file MATCHES "/src/core/store/")
    check(${file} "^store/" "")
  elseif(file MATCHES "/src/core/io/")
    check(${file} "^io/" "")
  else()
    check(${file} "^(${rooms})/" "")
  endif()
endforeach()

file(GLOB core_tests ${SOURCE}/tests/unit/*.cc ${SOURCE}/tests/unit/*.h)
foreach(file IN LISTS core_tests)
  check(${file} "^(${rooms})/" "${SOURCE}/tests/unit")
endforeach()

file(GLOB tool ${SOURCE}/tools/vellix/*.cc ${SOURCE}/tools/vellix/*.h)
foreach(file IN LISTS tool)
  check(${file} "^(${rooms})/" "${SOURCE}/tools/vellix")
endforeach()

file(GLOB hosts ${SOURCE}/sim/*.cc ${SOURCE}/sim/*.h ${SOURCE}/tools/*.cc)
foreach(file IN LISTS hosts)
  check(${file} "^vellix/host_abi\\.h$" "${SOURCE}/sim")
endforeach()

if(faults)
  list(JOIN faults "\n  " listed)
  message(FATAL_ERROR "includes across the layers:\n  ${listed}")
endif()
list(LENGTH core core_count)
list(LENGTH core_tests test_count)
list(LENGTH hosts host_count)
message(STATUS "layers kept: ${core_count} core files, ${test_count} core tests, "
               "${host_count} files of the simulated host")
