# Installing libNimbra for a host: the shared library with its SONAME links,
# the public headers, the stand-in logging library, a pkg-config file
# (nimbra.pc) and a CMake package (find_package(Nimbra) gives Nimbra::Nimbra),
# plus the command-line host nimbra. Everything is relocatable: install with
# any --prefix.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(NIMBRA_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/Nimbra)

# libNimbra needs LogHandlerA; the stand-in libNimbraLog installed beside it
# is found through $ORIGIN (a host that exports its own LogHandlerA wins).
set_target_properties(Nimbra NimbraLog PROPERTIES INSTALL_RPATH "$ORIGIN")

install(TARGETS Nimbra NimbraLog
  EXPORT NimbraTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${CMAKE_SOURCE_DIR}/Nimbra/Nimbra.h
              ${CMAKE_BINARY_DIR}/generated/Nimbra/NimbraConfig.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/Nimbra)
install(FILES ${CMAKE_SOURCE_DIR}/KestLib/KestLib.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/KestLib)
install(FILES ${CMAKE_SOURCE_DIR}/Contracts/LogHandler.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/Contracts)

# CMake package.
install(EXPORT NimbraTargets NAMESPACE Nimbra:: DESTINATION ${NIMBRA_INSTALL_CMAKEDIR})
configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/NimbraConfig.cmake.in
  ${CMAKE_BINARY_DIR}/cmake/NimbraConfig.cmake
  INSTALL_DESTINATION ${NIMBRA_INSTALL_CMAKEDIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/cmake/NimbraConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/cmake/NimbraConfig.cmake
              ${CMAKE_BINARY_DIR}/cmake/NimbraConfigVersion.cmake
        DESTINATION ${NIMBRA_INSTALL_CMAKEDIR})

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
configure_file(${CMAKE_SOURCE_DIR}/cmake/nimbra.pc.in ${CMAKE_BINARY_DIR}/cmake/nimbra.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/cmake/nimbra.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# The command-line host, finding libNimbra in ../lib.
if(TARGET nimbra)
  install(TARGETS nimbra RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
