# cmake --install: the module with its SONAME, the one header a host needs, the tools, and the
# files that let another project find them (find_package(Vellix) or pkg-config vellix).
include(CMakePackageConfigHelpers)

install(TARGETS vellix EXPORT VellixTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${CMAKE_SOURCE_DIR}/src/host/host_abi.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/vellix)
if(TARGET vellix-run)
  install(TARGETS vellix-run RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
if(TARGET vellix-cli)
  install(TARGETS vellix-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  if(VELLIX_TOOL_DOCS)
    install(FILES ${CMAKE_BINARY_DIR}/vellix.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    install(FILES ${CMAKE_BINARY_DIR}/vellix.bash
      DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME vellix)
  endif()
endif()

set(VELLIX_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Vellix)
install(EXPORT VellixTargets NAMESPACE Vellix:: DESTINATION ${VELLIX_CMAKE_DIR})
configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/VellixConfig.cmake.in
  ${CMAKE_BINARY_DIR}/VellixConfig.cmake
  INSTALL_DESTINATION ${VELLIX_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/VellixConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/VellixConfig.cmake ${CMAKE_BINARY_DIR}/VellixConfigVersion.cmake
  DESTINATION ${VELLIX_CMAKE_DIR})

# Relocatable: the prefix is found from where the .pc file lies, so --prefix at install time
# needs no reconfiguration.
file(RELATIVE_PATH VELLIX_PC_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
# The module by its SONAME, the name that stays across compatible versions.
set(VELLIX_MODULE_FILE
  ${CMAKE_SHARED_LIBRARY_PREFIX}vellix${CMAKE_SHARED_LIBRARY_SUFFIX}.${PROJECT_VERSION_MAJOR})
configure_file(${CMAKE_SOURCE_DIR}/cmake/vellix.pc.in ${CMAKE_BINARY_DIR}/vellix.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/vellix.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
