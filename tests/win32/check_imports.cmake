# Reads a Windows binary's import table with objdump -p and fails on any DLL
# that is not part of Windows itself: a plug-in's dependent DLLs are looked
# for beside the host executable, not beside the plug-in, so a mingw runtime,
# log4cpp or OpenSSL DLL would make it fail to load on a customer's machine.
#
#   cmake -DOBJDUMP=i686-w64-mingw32-objdump -DBINARY=path/to.dll -P check_imports.cmake
cmake_policy(VERSION 3.25)
set(system_dlls KERNEL32.dll IPHLPAPI.DLL SHLWAPI.dll msvcrt.dll ADVAPI32.dll WS2_32.dll
                USER32.dll)

execute_process(COMMAND ${OBJDUMP} -p ${BINARY} OUTPUT_VARIABLE dump RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${BINARY} failed: ${status}")
endif()
string(REGEX MATCHALL "\n[ \t]*DLL Name: [^\n]+" rows "${dump}")
set(imports "")
set(foreign "")
string(TOUPPER "${system_dlls}" allowed)
foreach(row ${rows})
  string(REGEX REPLACE "^\n[ \t]*DLL Name: " "" name "${row}")
  string(STRIP "${name}" name)
  list(APPEND imports "${name}")
  string(TOUPPER "${name}" upper)
  if(NOT upper IN_LIST allowed)
    list(APPEND foreign "${name}")
  endif()
endforeach()
if(NOT imports)
  message(FATAL_ERROR "${BINARY}: no import table found")
endif()
if(foreign)
  message(FATAL_ERROR "${BINARY} needs DLLs that Windows does not have: ${foreign} "
                      "(all imports: ${imports})")
endif()
file(SIZE ${BINARY} size)
message(STATUS "${BINARY}: ${size} bytes, imports ${imports}")
