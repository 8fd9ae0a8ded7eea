# Debian packages of the install components (make package, with CPack):
# libnimbra1 (runtime), libnimbra-dev (dev), nimbra-tools (tools) and, when
# it is built, nimbra-desktop (desktop: the Qt application, its .desktop
# entry and icon).
# Packaging takes what is built; it does not build the whole tree first (the
# tests' release checks package a tree where only what ships is built).
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME nimbra)
set(CPACK_PACKAGE_VENDOR "Nimbra developers")
set(CPACK_PACKAGE_CONTACT "Nimbra developers <nimbra@localhost>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Backups to an OSS-compatible object store with short-lived STS credentials")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime dev tools)
if(NIMBRA_BUILD_TOOLS AND NIMBRA_BUILD_DESKTOP)
  list(APPEND CPACK_COMPONENTS_ALL desktop)
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE ${CMAKE_BINARY_DIR}/cmake/copyright
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/nimbra-desktop COMPONENT desktop)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The system libraries each package needs come from dpkg-shlibdeps; our own
# libraries are looked up in the build tree and the packages that provide
# them are named as component dependencies.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/Nimbra ${CMAKE_BINARY_DIR}/Contracts)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${NIMBRA_PACKAGE_runtime})
set(CPACK_DEBIAN_DEV_PACKAGE_NAME ${NIMBRA_PACKAGE_dev})
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME ${NIMBRA_PACKAGE_tools})
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "Nimbra backup library (libNimbra) and its stand-in logger")
set(CPACK_COMPONENT_DEV_DESCRIPTION "Headers, pkg-config file and CMake package for libNimbra")
set(CPACK_COMPONENT_TOOLS_DESCRIPTION "nimbra command line and nimbra-devserver development server")
set(CPACK_COMPONENT_DEV_DEPENDS runtime)
set(CPACK_COMPONENT_TOOLS_DEPENDS runtime)
set(CPACK_DEBIAN_DESKTOP_PACKAGE_NAME nimbra-desktop)
set(CPACK_DEBIAN_DESKTOP_PACKAGE_SECTION utils)
set(CPACK_COMPONENT_DESKTOP_DESCRIPTION "Nimbra Backup, the desktop application (Qt 6)")
set(CPACK_COMPONENT_DESKTOP_DEPENDS runtime)

include(CPack)
