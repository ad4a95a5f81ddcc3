# Installation as C and C++ users expect it: the header, the versioned shared
# library with its links, the licence (MIT) in the documentation folder, a
# CMake package (find_package(taskclient) gives the
# target taskclient::taskclient) and a pkg-config file (taskclient.pc). Both
# package files find the tree relative to themselves, so an installed tree can
# be moved (cmake --install build --prefix DIR).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(TASKCLIENT_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/taskclient)

install(TARGETS taskclient EXPORT taskclientTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/taskclient.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})

install(EXPORT taskclientTargets NAMESPACE taskclient:: DESTINATION ${TASKCLIENT_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/taskclientConfig.cmake.in
  ${PROJECT_BINARY_DIR}/taskclientConfig.cmake INSTALL_DESTINATION ${TASKCLIENT_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/taskclientConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/taskclientConfig.cmake ${PROJECT_BINARY_DIR}/taskclientConfigVersion.cmake
  DESTINATION ${TASKCLIENT_CMAKE_DIR})

# The prefix as seen from the folder taskclient.pc is installed in.
file(RELATIVE_PATH TASKCLIENT_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" TASKCLIENT_PC_TO_PREFIX "${TASKCLIENT_PC_TO_PREFIX}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/taskclient.pc.in ${PROJECT_BINARY_DIR}/taskclient.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/taskclient.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
