# The SDK as a CMake package: its version rule, and its installation.
#
# find_package(vexblocks 1.0 CONFIG) accepts this version when it has the
# same major number and is not older (SameMajorVersion). The rule holds for
# the installed package and for this checkout used through FetchContent
# (OVERRIDE_FIND_PACKAGE), where the version file goes to the folder that
# find_package is redirected to.
include(CMakePackageConfigHelpers)
# Sources and CMake code, so any pointer size may use it; only its blockhost
# is bound to one platform, and the config file knows which.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/vexblocksConfigVersion.cmake
  COMPATIBILITY SameMajorVersion ARCH_INDEPENDENT)
if(NOT PROJECT_IS_TOP_LEVEL AND CMAKE_FIND_PACKAGE_REDIRECTS_DIR)
  configure_file(${PROJECT_BINARY_DIR}/vexblocksConfigVersion.cmake
    ${CMAKE_FIND_PACKAGE_REDIRECTS_DIR}/vexblocks-config-version.cmake COPYONLY)
endif()

if(NOT VEXB_INSTALL)
  return()
endif()

# `cmake --install` puts under its prefix:
#   bin/                       blockhost, for the platform of this build
#   include/vexblocks/         the framework's headers
#   include/vexblocks/models/  the models' headers
#   share/vexblocks/framework/ the framework's sources and exports.map, which
#                              every plug-in build compiles and links
#   lib/cmake/vexblocks/       the CMake package, find_package(vexblocks 1.0
#                              CONFIG): vexb_add_plugin (Plugins.cmake, the
#                              file this build uses itself), the imported
#                              target vexb::blockhost and the toolchain files
include(GNUInstallDirs)

set(VEXB_INSTALL_HEADERS ${CMAKE_INSTALL_INCLUDEDIR}/vexblocks)
set(VEXB_INSTALL_MODELS ${CMAKE_INSTALL_INCLUDEDIR}/vexblocks/models)
set(VEXB_INSTALL_SOURCES ${CMAKE_INSTALL_DATADIR}/vexblocks/framework)
set(VEXB_INSTALL_PACKAGE ${CMAKE_INSTALL_LIBDIR}/cmake/vexblocks)

install(TARGETS blockhost EXPORT vexblocks RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(EXPORT vexblocks NAMESPACE vexb:: FILE vexblocksTargets.cmake
        DESTINATION ${VEXB_INSTALL_PACKAGE})
install(DIRECTORY framework/ DESTINATION ${VEXB_INSTALL_HEADERS}
        FILES_MATCHING PATTERN "*.h" PATTERN "*.inc")
install(DIRECTORY models/ DESTINATION ${VEXB_INSTALL_MODELS} FILES_MATCHING PATTERN "*.h")
install(DIRECTORY framework/ DESTINATION ${VEXB_INSTALL_SOURCES} FILES_MATCHING PATTERN "*.cpp")
install(FILES plugins/exports.map DESTINATION ${VEXB_INSTALL_SOURCES})

configure_package_config_file(cmake/vexblocksConfig.cmake.in
  ${PROJECT_BINARY_DIR}/vexblocksConfig.cmake
  INSTALL_DESTINATION ${VEXB_INSTALL_PACKAGE}
  PATH_VARS VEXB_INSTALL_HEADERS VEXB_INSTALL_MODELS VEXB_INSTALL_SOURCES)
install(FILES
  ${PROJECT_BINARY_DIR}/vexblocksConfig.cmake
  ${PROJECT_BINARY_DIR}/vexblocksConfigVersion.cmake
  cmake/Plugins.cmake
  DESTINATION ${VEXB_INSTALL_PACKAGE})
install(DIRECTORY cmake/ DESTINATION ${VEXB_INSTALL_PACKAGE}
        FILES_MATCHING PATTERN "toolchain-*.cmake")
