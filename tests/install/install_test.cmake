# Installs the build into a fresh prefix, then checks the installed tree as its users meet it:
# a CMake project finds the package and loads the module, pkg-config describes it, and the
# installed vellix-run finds the installed module by itself.
#   cmake -DBUILD=dir -DSOURCE=dir -DWORK=dir [-DPKG_CONFIG=path] -P install_test.cmake
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${WORK})
set(prefix ${WORK}/prefix)
run(${CMAKE_COMMAND} --install ${BUILD} --prefix ${prefix})

file(GLOB sonames ${prefix}/lib*/libvellix.so.1 ${prefix}/lib/*/libvellix.so.1)
if(NOT sonames)
  message(FATAL_ERROR "no libvellix.so.1 under ${prefix}")
endif()
foreach(page share/man/man1/vellix.1 share/bash-completion/completions/vellix)
  if(NOT EXISTS ${prefix}/${page})
    message(FATAL_ERROR "${page} is not installed")
  endif()
endforeach()
if(NOT EXISTS ${prefix}/include/vellix/host_abi.h)
  message(FATAL_ERROR "include/vellix/host_abi.h is not installed")
endif()

run(${CMAKE_COMMAND} -S ${SOURCE}/tests/install/consumer -B ${WORK}/consumer
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_TYPE=Release)
run(${CMAKE_COMMAND} --build ${WORK}/consumer)
run(${WORK}/consumer/consumer)
message(STATUS "consumer: ${out}")

if(PKG_CONFIG)
  file(GLOB_RECURSE pcs ${prefix}/vellix.pc)
  get_filename_component(pcdir "${pcs}" DIRECTORY)
  set(ENV{PKG_CONFIG_PATH} ${pcdir})
  run(${PKG_CONFIG} --cflags vellix)
  string(STRIP "${out}" cflags)
  file(REAL_PATH ${prefix}/include include)
  string(REPLACE "-I" "" got "${cflags}")
  file(REAL_PATH "${got}" got)
  if(NOT got STREQUAL include)
    message(FATAL_ERROR "pkg-config --cflags vellix gave '${cflags}', not -I${include}")
  endif()
  # The module file a host loads, by the variable the docs tell hosts to use.
  run(${PKG_CONFIG} --variable=module vellix)
  string(STRIP "${out}" module)
  if(NOT EXISTS "${module}" OR NOT module MATCHES "/libvellix\\.so\\.1$")
    message(FATAL_ERROR "pkg-config --variable=module vellix gave '${module}'")
  endif()
endif()

file(WRITE ${WORK}/run/check.vxs "object ini\nact ini 15 \"g\" \"i\" \"v\"\nexpr ini 25\n")
execute_process(COMMAND ${prefix}/bin/vellix-run check.vxs WORKING_DIRECTORY ${WORK}/run
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0 OR NOT out MATCHES "text \"\\[g\\]")
  message(FATAL_ERROR "installed vellix-run failed (${rc}):\n${out}${err}")
endif()
