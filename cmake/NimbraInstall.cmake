# Installing libNimbra for a host, in three components that `make package`
# turns into Debian packages:
#   runtime  libNimbra.so.1 and the stand-in logging library libNimbraLog.so.1
#   dev      the public headers, the .so links, a pkg-config file (nimbra.pc)
#            and a CMake package (find_package(Nimbra) gives Nimbra::Nimbra)
#   tools    the command-line host nimbra and the development server
# Everything is relocatable: install with any --prefix.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(NIMBRA_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/Nimbra)
set(NIMBRA_PACKAGE_runtime libnimbra1)
set(NIMBRA_PACKAGE_dev libnimbra-dev)
set(NIMBRA_PACKAGE_tools nimbra-tools)

# libNimbra needs LogHandlerA. On Linux the stand-in libNimbraLog installed
# beside it is found through the library's own directory (a host that exports
# its own LogHandlerA wins); on macOS the host's logging library provides it.
if(APPLE)
  set_target_properties(Nimbra NimbraLog PROPERTIES INSTALL_RPATH "@loader_path")
else()
  set_target_properties(Nimbra NimbraLog PROPERTIES INSTALL_RPATH "$ORIGIN")
endif()

install(TARGETS Nimbra NimbraLog
  EXPORT NimbraTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/Nimbra/Nimbra.h
              ${CMAKE_BINARY_DIR}/generated/Nimbra/NimbraConfig.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/Nimbra COMPONENT dev)
install(FILES ${PROJECT_SOURCE_DIR}/KestLib/KestLib.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/KestLib COMPONENT dev)
install(FILES ${PROJECT_SOURCE_DIR}/Contracts/LogHandler.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/Contracts COMPONENT dev)

# CMake package.
install(EXPORT NimbraTargets NAMESPACE Nimbra:: DESTINATION ${NIMBRA_INSTALL_CMAKEDIR}
        COMPONENT dev)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/NimbraConfig.cmake.in
  ${CMAKE_BINARY_DIR}/cmake/NimbraConfig.cmake
  INSTALL_DESTINATION ${NIMBRA_INSTALL_CMAKEDIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/cmake/NimbraConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/cmake/NimbraConfig.cmake
              ${CMAKE_BINARY_DIR}/cmake/NimbraConfigVersion.cmake
        DESTINATION ${NIMBRA_INSTALL_CMAKEDIR} COMPONENT dev)

# pkg-config file; its prefix is found from the file's own place.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(NIMBRA_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  set(NIMBRA_PC_PREFIX "\${pcfiledir}")
  string(REPLACE "/" ";" _pc_levels "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
  foreach(_level IN LISTS _pc_levels)
    string(APPEND NIMBRA_PC_PREFIX "/..")
  endforeach()
endif()
configure_file(${PROJECT_SOURCE_DIR}/cmake/nimbra.pc.in ${CMAKE_BINARY_DIR}/cmake/nimbra.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/cmake/nimbra.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
        COMPONENT dev)

# The command-line host (finding libNimbra in ../lib) and the development server.
if(NIMBRA_BUILD_TOOLS)
  install(TARGETS nimbra nimbra-devserver RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
          COMPONENT tools)
endif()

# The license and a machine-readable copyright file (SPDX identifier
# Apache-2.0), in each package's documentation directory.
configure_file(${PROJECT_SOURCE_DIR}/cmake/copyright.in ${CMAKE_BINARY_DIR}/cmake/copyright @ONLY)
foreach(_component runtime dev tools)
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE ${CMAKE_BINARY_DIR}/cmake/copyright
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${NIMBRA_PACKAGE_${_component}}
          COMPONENT ${_component})
endforeach()

include(${PROJECT_SOURCE_DIR}/cmake/NimbraPackage.cmake)
