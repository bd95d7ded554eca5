# The Windows release a Windows integrator downloads: `cpack -G ZIP` in the
# build directory writes devicecode-<version>-win32.zip. Besides what the
# install rules give (bin\devicecode.dll, the tool where it is built for
# Windows: its own rule installs it, include\devicecode.h, the import library,
# the CMake package) it holds the module definition, a Visual C++ import
# library, a short text on loading the DLL and the licences of the project
# and of the two libraries linked into the DLL.

install(FILES ${PROJECT_SOURCE_DIR}/exports/devicecode.def DESTINATION ${CMAKE_INSTALL_LIBDIR})

# The import libraries, for hosts that link the DLL rather than load it.
# Visual C++'s linker makes devicecode.lib itself, tying the plain name in the
# module definition to _FreeBuffer@4. GNU ld with --kill-at does not: its
# import library has FreeBuffer undecorated, so a caller's _FreeBuffer@4
# finds nothing. With mingw both import libraries are made from the module
# definition with the decorated name (FreeBuffer@4: one pointer argument) and
# --kill-at, which gives the symbol _FreeBuffer@4 importing the plain name;
# Visual C++'s lib cannot make that entry from a .def alone, so the package
# carries a ready devicecode.lib, made by llvm-dlltool.
if(MINGW)
  set(decorated_def ${PROJECT_BINARY_DIR}/devicecode-decorated.def)
  file(READ ${PROJECT_SOURCE_DIR}/exports/devicecode.def def)
  string(REGEX REPLACE "FreeBuffer([ \t]+@1)" "FreeBuffer@4\\1" def "${def}")
  string(REGEX REPLACE "LIBRARY[ \t]+devicecode\n" "LIBRARY devicecode.dll\n" def "${def}")
  file(WRITE ${decorated_def} "${def}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
    ${PROJECT_SOURCE_DIR}/exports/devicecode.def)

  find_program(DEVICECODE_DLLTOOL NAMES ${DEVICECODE_MINGW_PREFIX}-dlltool dlltool REQUIRED)
  add_custom_command(TARGET devicecode POST_BUILD
    COMMAND ${DEVICECODE_DLLTOOL} -m i386 -k -d ${decorated_def} -l $<TARGET_LINKER_FILE:devicecode>
    VERBATIM)

  find_program(DEVICECODE_LLVM_DLLTOOL NAMES llvm-dlltool llvm-dlltool-14)
  if(DEVICECODE_LLVM_DLLTOOL)
    add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/devicecode.lib
      COMMAND ${DEVICECODE_LLVM_DLLTOOL} -m i386 -k -d ${decorated_def}
              -l ${PROJECT_BINARY_DIR}/devicecode.lib
      DEPENDS ${decorated_def})
    add_custom_target(devicecode_msvc_import_library ALL
      DEPENDS ${PROJECT_BINARY_DIR}/devicecode.lib)
    install(FILES ${PROJECT_BINARY_DIR}/devicecode.lib DESTINATION ${CMAKE_INSTALL_LIBDIR})
  else()
    message(NOTICE "devicecode: no llvm-dlltool: the Windows package has no devicecode.lib "
                   "for Visual C++ (Debian package llvm).")
  endif()
endif()

# Text files with Windows line ends, at the top of the package.
configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/README.txt
  ${PROJECT_BINARY_DIR}/windows-package/README.txt @ONLY NEWLINE_STYLE CRLF)
configure_file(${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_BINARY_DIR}/windows-package/LICENSE.txt
  COPYONLY)
install(FILES ${PROJECT_BINARY_DIR}/windows-package/README.txt
              ${PROJECT_BINARY_DIR}/windows-package/LICENSE.txt
  DESTINATION .)

# The licences of log4cpp (LGPL-2.1) and OpenSSL (Apache-2.0), whose terms ask
# that they go with the binary: from the prefix they were found in, as
# scripts/windows-deps installs them, or as vcpkg does.
get_filename_component(_devicecode_deps_prefix "${OPENSSL_INCLUDE_DIR}" DIRECTORY)
foreach(licence "log4cpp;COPYING;log4cpp-COPYING.txt" "openssl;LICENSE.txt;openssl-LICENSE.txt")
  list(GET licence 0 library)
  list(GET licence 1 file)
  list(GET licence 2 packaged)
  set(found "")
  foreach(candidate share/licenses/${library}/${file} share/${library}/copyright)
    if(EXISTS "${_devicecode_deps_prefix}/${candidate}")
      set(found "${_devicecode_deps_prefix}/${candidate}")
      break()
    endif()
  endforeach()
  if(found)
    install(FILES ${found} DESTINATION licenses RENAME ${packaged})
  else()
    message(WARNING "devicecode: no licence file of ${library} under ${_devicecode_deps_prefix}/share: "
                    "the Windows package will lack it.")
  endif()
endforeach()

# A parent project that adds this one packages itself.
if(NOT DEVICECODE_TOP_LEVEL)
  return()
endif()
set(CPACK_PACKAGE_NAME devicecode)
set(CPACK_PACKAGE_VENDOR devicecode)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}: a machine's device code")
set(CPACK_SYSTEM_NAME win32)
set(CPACK_GENERATOR ZIP)
set(CPACK_STRIP_FILES ON)
include(CPack)
