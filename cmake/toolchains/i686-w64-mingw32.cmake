# Cross build for 32-bit Windows with Debian's mingw-w64 (g++-mingw-w64-i686).
#
#   cmake -S . -B build-windows --toolchain cmake/toolchains/i686-w64-mingw32.cmake
#
# Programs built for the target run under Wine when it is installed, so ctest
# runs the Windows tests on this machine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(DEVICECODE_MINGW_PREFIX i686-w64-mingw32 CACHE STRING "Prefix of the mingw-w64 tools")
# The posix thread model: GCC 12's win32 model has no std::mutex or
# std::thread. winpthread is linked statically below.
find_program(CMAKE_C_COMPILER NAMES ${DEVICECODE_MINGW_PREFIX}-gcc-posix ${DEVICECODE_MINGW_PREFIX}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${DEVICECODE_MINGW_PREFIX}-g++-posix ${DEVICECODE_MINGW_PREFIX}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${DEVICECODE_MINGW_PREFIX}-windres)
find_program(CMAKE_OBJDUMP NAMES ${DEVICECODE_MINGW_PREFIX}-objdump)

# Headers and libraries only from the target's sysroot and the prefixes a
# developer names, never the build machine's /usr. Every search is re-rooted
# under CMAKE_FIND_ROOT_PATH, so a prefix given in CMAKE_PREFIX_PATH (cache
# or environment) or OPENSSL_ROOT_DIR becomes a root of its own: a path
# already inside a root is searched as it is.
set(CMAKE_FIND_ROOT_PATH /usr/${DEVICECODE_MINGW_PREFIX})
set(_devicecode_env_prefixes "$ENV{CMAKE_PREFIX_PATH}")
string(REPLACE ":" ";" _devicecode_env_prefixes "${_devicecode_env_prefixes}")
foreach(_devicecode_prefix IN LISTS CMAKE_PREFIX_PATH _devicecode_env_prefixes OPENSSL_ROOT_DIR)
  if(IS_ABSOLUTE "${_devicecode_prefix}")
    list(APPEND CMAKE_FIND_ROOT_PATH "${_devicecode_prefix}")
  endif()
endforeach()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The GCC runtime and winpthread are linked in, so programs and DLLs need no
# mingw DLL at run time, under Wine or on Windows.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")

find_program(DEVICECODE_WINE NAMES wine)
if(DEVICECODE_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${DEVICECODE_WINE})
endif()
