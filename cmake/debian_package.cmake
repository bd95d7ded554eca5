# The Debian packages, one per install component (cpack -G DEB):
#
#   libdevicecode1     the library (section libs)
#   libdevicecode-dev  what a host's build needs (section libdevel)
#   devicecode         the tool and its man page (section utils)
#
# Each also gets what Debian asks of every package and a plain install does
# not need: /usr/share/doc/<package>/copyright and changelog.gz, lintian
# overrides; the library package also its Logs link and the scripts that make
# /var/log/devicecode. Those go in components of their own, left out of
# `cmake --install`.

# The placeholder address is for local builds; a distributor sets their own.
set(DEVICECODE_PACKAGE_CONTACT "devicecode maintainers <devicecode@example.org>"
  CACHE STRING "Maintainer of the Debian packages")

set(debian_dir ${PROJECT_SOURCE_DIR}/cmake/debian)
# Each package as CPack group:Debian name:install component.
set(DEVICECODE_DEBIAN_PACKAGES lib:libdevicecode1:library dev:libdevicecode-dev:development)
if(DEVICECODE_BUILD_TOOL)
  list(APPEND DEVICECODE_DEBIAN_PACKAGES bin:devicecode:tool)
endif()

# copyright, in Debian's machine-readable format, from LICENSE: its holder
# and its text as a field body (lines indented, blank lines as ".").
file(READ ${PROJECT_SOURCE_DIR}/LICENSE licence)
if(NOT licence MATCHES "\nCopyright \\(c\\) ([^\n]+)\n(.+)$")
  message(FATAL_ERROR "LICENSE: no \"Copyright (c)\" line followed by the licence")
endif()
set(DEVICECODE_COPYRIGHT "${CMAKE_MATCH_1}")
string(STRIP "${CMAKE_MATCH_2}" licence)
string(REPLACE "\n\n" "\n.\n" licence "${licence}")
string(REPLACE "\n" "\n " DEVICECODE_LICENSE_TEXT " ${licence}")
configure_file(${debian_dir}/copyright.in ${PROJECT_BINARY_DIR}/debian/copyright @ONLY)

# The Debian changelog (this is a native package), compressed as Debian asks.
set(changelog_gz ${PROJECT_BINARY_DIR}/debian/changelog.gz)
add_custom_command(OUTPUT ${changelog_gz}
  COMMAND gzip -9nc ${debian_dir}/changelog > ${changelog_gz}
  DEPENDS ${debian_dir}/changelog)
add_custom_target(devicecode_debian_changelog ALL DEPENDS ${changelog_gz})

set(CPACK_COMPONENTS_ALL "")
foreach(entry IN LISTS DEVICECODE_DEBIAN_PACKAGES)
  string(REPLACE ":" ";" entry "${entry}")
  list(GET entry 0 group)
  list(GET entry 1 package)
  list(GET entry 2 component)
  install(FILES ${PROJECT_BINARY_DIR}/debian/copyright ${changelog_gz}
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package}
    COMPONENT ${component}_debian EXCLUDE_FROM_ALL)
  # lintian tags accepted on purpose, each with its reason.
  if(EXISTS ${debian_dir}/${package}.lintian-overrides)
    install(FILES ${debian_dir}/${package}.lintian-overrides
      DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME ${package}
      COMPONENT ${component}_debian EXCLUDE_FROM_ALL)
  endif()
  string(TOUPPER ${group} GROUP)
  set(CPACK_DEBIAN_${GROUP}_PACKAGE_NAME ${package})
  string(TOUPPER ${component} COMPONENT)
  set(CPACK_COMPONENT_${COMPONENT}_GROUP ${group})
  set(CPACK_COMPONENT_${COMPONENT}_DEBIAN_GROUP ${group})
  list(APPEND CPACK_COMPONENTS_ALL ${component} ${component}_debian)
endforeach()

# The plug-in looks for a Logs folder beside it (or one or two folders up) and
# otherwise writes beside itself: this link keeps its logs out of /usr.
install(CODE "file(CREATE_LINK /var/log/devicecode
    \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/Logs\" SYMBOLIC)"
  COMPONENT library_debian EXCLUDE_FROM_ALL)

set(CPACK_PACKAGE_NAME devicecode)
set(CPACK_PACKAGE_VENDOR devicecode)
set(CPACK_PACKAGE_CONTACT "${DEVICECODE_PACKAGE_CONTACT}")
# Each package's own summary is the first line of its description.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")
set(about_code "\
The device code is the upper-case hexadecimal MD5 digest of the hardware
address of one network adapter of the machine, chosen by the plug-in.")
set(CPACK_DEBIAN_LIB_DESCRIPTION "device code plug-in library
${about_code}
.
This package holds the shared library, which exports GetDeviceCode and
FreeBuffer. Its diagnostic log of hosts running as root goes to
/var/log/devicecode.")
set(CPACK_DEBIAN_DEV_DESCRIPTION "device code plug-in library (development files)
${about_code}
.
This package holds the C header, the CMake package (find_package(devicecode))
and the pkg-config file for building hosts of the plug-in.")
set(CPACK_DEBIAN_BIN_DESCRIPTION "print this machine's device code
${about_code}
.
This package holds the devicecode command, which loads the plug-in as a host
does and prints the code, and explains which adapter decided it and why.")

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SOURCE devicecode)
set(CPACK_DEBIAN_LIB_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_BIN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_LIB_PACKAGE_MULTIARCH same)
set(CPACK_DEBIAN_DEV_PACKAGE_MULTIARCH same)
# The tool loads the plug-in with dlopen, so dpkg-shlibdeps cannot see that
# dependency; it and the -dev package need this very version.
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libdevicecode1 (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_BIN_PACKAGE_DEPENDS "libdevicecode1 (= ${PROJECT_VERSION})")
# dpkg-shlibdeps derives the rest of Depends (libc6, libstdc++6, liblog4cpp5v5,
# libssl3) from what the binaries link, so the list cannot drift from the build.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The shlibs file that lets other packages' dpkg-shlibdeps depend on this one.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# Our own maintainer scripts replace CPack's, which would call ldconfig
# directly: the trigger runs it once for the whole dpkg run. The symbols file
# says which version brought each export.
set(CPACK_DEBIAN_LIB_PACKAGE_CONTROL_EXTRA
  ${debian_dir}/postinst ${debian_dir}/postrm ${debian_dir}/triggers ${debian_dir}/symbols)
set(CPACK_DEBIAN_LIB_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git" "/build[^/]*/")
include(CPack)
