# Installation and packaging: the CMake package (devicecode::devicecode),
# devicecode.pc, the man page and the Debian package (cpack -G DEB).
include(CMakePackageConfigHelpers)

set(DEVICECODE_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/devicecode)

# The same name inside this build as outside, for projects that add this one
# as a subdirectory.
add_library(devicecode::devicecode ALIAS devicecode)
target_include_directories(devicecode INTERFACE
  $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
  $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)

install(TARGETS devicecode EXPORT devicecode-targets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT devicecode-targets NAMESPACE devicecode:: DESTINATION ${DEVICECODE_CMAKE_DIR})

configure_package_config_file(cmake/devicecode-config.cmake.in
  ${PROJECT_BINARY_DIR}/devicecode-config.cmake
  INSTALL_DESTINATION ${DEVICECODE_CMAKE_DIR})
# Not ARCH_INDEPENDENT: a 32-bit consumer must not pick up a 64-bit library.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/devicecode-config-version.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/devicecode-config.cmake
  ${PROJECT_BINARY_DIR}/devicecode-config-version.cmake
  DESTINATION ${DEVICECODE_CMAKE_DIR})

if(WIN32)
  include(cmake/windows_package.cmake)
  return()
endif()

# devicecode.pc is written when installing, not configuring, because the
# prefix is only known then (cmake --install --prefix, or CPack's /usr).
foreach(dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    set(DEVICECODE_PC_${dir} "${CMAKE_INSTALL_${dir}}")
  else()
    set(DEVICECODE_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
set(DEVICECODE_PC_PREFIX "@DEVICECODE_PC_PREFIX@")  # left for the install step
configure_file(cmake/devicecode.pc.in ${PROJECT_BINARY_DIR}/devicecode.pc.in @ONLY)
install(CODE "
  set(DEVICECODE_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
  configure_file(\"${PROJECT_BINARY_DIR}/devicecode.pc.in\" \"${PROJECT_BINARY_DIR}/devicecode.pc\" @ONLY)")
install(FILES ${PROJECT_BINARY_DIR}/devicecode.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# Debian ships man pages compressed with gzip -9n (no name or time stamp).
set(DEVICECODE_MAN_PAGE ${PROJECT_BINARY_DIR}/man/devicecode.1)
configure_file(cli/devicecode.1 ${DEVICECODE_MAN_PAGE} @ONLY)
add_custom_command(OUTPUT ${DEVICECODE_MAN_PAGE}.gz
  COMMAND gzip -9nc ${DEVICECODE_MAN_PAGE} > ${DEVICECODE_MAN_PAGE}.gz
  DEPENDS ${DEVICECODE_MAN_PAGE})
add_custom_target(devicecode_man_page ALL DEPENDS ${DEVICECODE_MAN_PAGE}.gz)
install(FILES ${DEVICECODE_MAN_PAGE}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# A parent project that adds this one packages itself.
if(NOT DEVICECODE_TOP_LEVEL)
  return()
endif()
set(DEVICECODE_PACKAGE_CONTACT "devicecode maintainers <devicecode@localhost>"
  CACHE STRING "Maintainer of the Debian package")
set(CPACK_PACKAGE_NAME devicecode)
set(CPACK_PACKAGE_VENDOR devicecode)
set(CPACK_PACKAGE_CONTACT "${DEVICECODE_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}: a machine's device code")
set(CPACK_PACKAGE_DESCRIPTION "\
The device code is the upper-case hexadecimal MD5 digest of the hardware
address of one network adapter. This package holds the plug-in library
(GetDeviceCode, FreeBuffer), its header, CMake and pkg-config files, and
the devicecode command, which prints the code.")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# dpkg-shlibdeps derives Depends (libc6, libstdc++6, liblog4cpp5v5, libssl3)
# from what the binaries link, so the list cannot drift from the build.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git" "/build[^/]*/")
include(CPack)
