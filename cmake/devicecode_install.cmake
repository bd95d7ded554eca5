# Installation and packaging: the CMake package (devicecode::devicecode),
# devicecode.pc, the tool and its man page, and the Debian packages
# (cpack -G DEB): libdevicecode1, libdevicecode-dev and devicecode.
#
# Install components, one Debian package each:
#   library      the shared object and its SONAME link
#   development  the header, libdevicecode.so, the CMake and pkg-config files
#   tool         the devicecode command and its man page
include(CMakePackageConfigHelpers)

set(DEVICECODE_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/devicecode)

install(TARGETS devicecode EXPORT devicecode-targets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT library
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library
    NAMELINK_COMPONENT development
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)
install(EXPORT devicecode-targets NAMESPACE devicecode:: DESTINATION ${DEVICECODE_CMAKE_DIR}
  COMPONENT development)

configure_package_config_file(cmake/devicecode-config.cmake.in
  ${PROJECT_BINARY_DIR}/devicecode-config.cmake
  INSTALL_DESTINATION ${DEVICECODE_CMAKE_DIR})
# Not ARCH_INDEPENDENT: a 32-bit consumer must not pick up a 64-bit library.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/devicecode-config-version.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/devicecode-config.cmake
  ${PROJECT_BINARY_DIR}/devicecode-config-version.cmake
  DESTINATION ${DEVICECODE_CMAKE_DIR} COMPONENT development)

# The tool, where it is built (a Windows build without nlohmann-json has none).
if(DEVICECODE_BUILD_TOOL AND TARGET devicecode_cli)
  install(TARGETS devicecode_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tool)
  # The JSON report's schema, for programs that read the report.
  install(FILES cli/report.schema.json DESTINATION ${CMAKE_INSTALL_DATADIR}/devicecode
    COMPONENT tool)
endif()

if(WIN32)
  include(cmake/windows_package.cmake)
  return()
endif()

# devicecode.pc finds its prefix from its own folder (${pcfiledir}), so the
# installed tree can be moved, or unpacked anywhere, and still be used.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(DEVICECODE_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  set(DEVICECODE_PC_PREFIX "\${pcfiledir}")
  string(REPLACE "/" ";" steps "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
  foreach(step ${steps})
    string(APPEND DEVICECODE_PC_PREFIX "/..")
  endforeach()
endif()
foreach(dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    set(DEVICECODE_PC_${dir} "${CMAKE_INSTALL_${dir}}")
  else()
    set(DEVICECODE_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
configure_file(cmake/devicecode.pc.in ${PROJECT_BINARY_DIR}/devicecode.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/devicecode.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
  COMPONENT development)

if(DEVICECODE_BUILD_TOOL)
  # Debian ships man pages compressed with gzip -9n (no name or time stamp).
  set(DEVICECODE_MAN_PAGE ${PROJECT_BINARY_DIR}/man/devicecode.1)
  configure_file(cli/devicecode.1 ${DEVICECODE_MAN_PAGE} @ONLY)
  add_custom_command(OUTPUT ${DEVICECODE_MAN_PAGE}.gz
    COMMAND gzip -9nc ${DEVICECODE_MAN_PAGE} > ${DEVICECODE_MAN_PAGE}.gz
    DEPENDS ${DEVICECODE_MAN_PAGE})
  add_custom_target(devicecode_man_page ALL DEPENDS ${DEVICECODE_MAN_PAGE}.gz)
  install(FILES ${DEVICECODE_MAN_PAGE}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tool)
endif()

# A parent project that adds this one packages itself.
if(NOT PROJECT_IS_TOP_LEVEL)
  return()
endif()
include(cmake/debian_package.cmake)
