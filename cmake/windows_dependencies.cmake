# OpenSSL's libcrypto and log4cpp for a Windows target, both static, so that
# devicecode.dll is one file: Windows looks for a plug-in's dependent DLLs
# beside the host executable, not beside the plug-in.
#
# vcpkg (see vcpkg.json and CMakePresets.json, static triplet) provides both
# with CMake package files; scripts/windows-deps builds them for mingw-w64
# into a prefix for CMAKE_PREFIX_PATH, where log4cpp is found by its header
# and library. When either is missing the DLL is not built, and one line says
# so.
set(OPENSSL_USE_STATIC_LIBS ON)
# What was found is cached; when the prefixes change (a new build of the
# dependencies lands in a new prefix) it is looked for again. A library named
# by a developer (OPENSSL_CRYPTO_LIBRARY) stays.
if(NOT "${CMAKE_PREFIX_PATH}" STREQUAL "${DEVICECODE_DEPENDENCIES_PREFIX_PATH}")
  foreach(found LIB_EAY SSL_EAY OPENSSL_INCLUDE_DIR DEVICECODE_LOG4CPP_INCLUDE_DIR
                DEVICECODE_LOG4CPP_LIBRARY log4cpp_DIR)
    unset(${found} CACHE)
  endforeach()
  set(DEVICECODE_DEPENDENCIES_PREFIX_PATH "${CMAKE_PREFIX_PATH}" CACHE INTERNAL
    "CMAKE_PREFIX_PATH when OpenSSL and log4cpp were looked for")
endif()
# On MinGW FindOpenSSL takes libcrypto from LIB_EAY and overwrites
# OPENSSL_CRYPTO_LIBRARY with it: a library named by a developer goes there.
if(MINGW AND OPENSSL_CRYPTO_LIBRARY AND NOT LIB_EAY)
  set(LIB_EAY "${OPENSSL_CRYPTO_LIBRARY}" CACHE FILEPATH "OpenSSL's libcrypto")
endif()
find_package(OpenSSL 1.1 QUIET COMPONENTS Crypto)

find_package(log4cpp CONFIG QUIET)
set(_devicecode_log4cpp "")
foreach(_candidate log4cpp::log4cpp log4cpp::orocos-log4cpp)
  if(TARGET ${_candidate})
    set(_devicecode_log4cpp ${_candidate})
    break()
  endif()
endforeach()
if(NOT _devicecode_log4cpp)
  # The orocos fork's CMake build installs include/orocos/log4cpp and
  # liborocos-log4cpp.a.
  find_path(DEVICECODE_LOG4CPP_INCLUDE_DIR log4cpp/Category.hh PATH_SUFFIXES orocos)
  find_library(DEVICECODE_LOG4CPP_LIBRARY NAMES log4cpp orocos-log4cpp)
  if(DEVICECODE_LOG4CPP_INCLUDE_DIR AND DEVICECODE_LOG4CPP_LIBRARY)
    add_library(devicecode_log4cpp INTERFACE)
    target_include_directories(devicecode_log4cpp INTERFACE ${DEVICECODE_LOG4CPP_INCLUDE_DIR})
    # log4cpp's Windows build uses Winsock for its network appenders.
    target_link_libraries(devicecode_log4cpp INTERFACE ${DEVICECODE_LOG4CPP_LIBRARY} ws2_32)
    set(_devicecode_log4cpp devicecode_log4cpp)
  endif()
endif()

set(_devicecode_missing "")
if(NOT OpenSSL_FOUND)
  list(APPEND _devicecode_missing "OpenSSL (libcrypto)")
endif()
if(NOT _devicecode_log4cpp)
  list(APPEND _devicecode_missing "log4cpp")
endif()

if(_devicecode_missing)
  list(JOIN _devicecode_missing " and " _devicecode_missing)
  message(NOTICE "devicecode: ${_devicecode_missing} not found for ${CMAKE_SYSTEM_NAME} "
                 "${CMAKE_SYSTEM_PROCESSOR}: building everything but devicecode.dll "
                 "(see README, Windows build).")
  set(DEVICECODE_HAVE_DEPENDENCIES OFF)
else()
  target_link_libraries(devicecode_dependencies INTERFACE OpenSSL::Crypto ${_devicecode_log4cpp})
  set(DEVICECODE_HAVE_DEPENDENCIES ON)
endif()
