# Reads a DLL's export table with objdump -p and checks it against the
# module definition: the module name devicecode.dll, exactly two exports,
# FreeBuffer as ordinal 1 and GetDeviceCode as ordinal 2, undecorated.
#
#   cmake -DOBJDUMP=i686-w64-mingw32-objdump -DDLL=path/to.dll -P check_export_table.cmake
execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${DLL} failed: ${status}")
endif()
string(FIND "${dump}" "The Export Tables" start)
string(FIND "${dump}" "PE File Base Relocations" end)
if(start EQUAL -1)
  message(FATAL_ERROR "${DLL} has no export table")
endif()
math(EXPR length "${end} - ${start}")
string(SUBSTRING "${dump}" ${start} ${length} table)

set(failures "")
function(expect regex what)
  if(NOT table MATCHES "${regex}")
    set(failures "${failures}\n  ${what}" PARENT_SCOPE)
  endif()
endfunction()
expect("\nName[ \t]+[0-9a-f]+ devicecode\\.dll\n" "module name devicecode.dll")
expect("\nOrdinal Base[ \t]+1\n" "ordinal base 1")
expect("Export Address Table[ \t]+0+2\n" "two entries in the address table")
expect("Name Pointer/Ordinal\\] Table[ \t]+0+2\n" "two exported names")

# "[ord] name" (binutils 2.40) or "[index] +base[ord] hint name" (later):
# collect "name=ordinal" pairs.
string(FIND "${table}" "[Ordinal/Name Pointer] Table" names_at)
string(SUBSTRING "${table}" ${names_at} -1 names)
string(REGEX MATCHALL "\n\t\\[ *[0-9]+\\][^\n]*" rows "${names}")
set(exports "")
foreach(row ${rows})
  if(row MATCHES "\\+base\\[ *([0-9]+)\\] [0-9a-f]+ ([^ \t]+)$")
    list(APPEND exports "${CMAKE_MATCH_2}=${CMAKE_MATCH_1}")
  elseif(row MATCHES "\\[ *([0-9]+)\\] ([^ \t]+)$")
    math(EXPR ordinal "${CMAKE_MATCH_1} + 1")
    list(APPEND exports "${CMAKE_MATCH_2}=${ordinal}")
  endif()
endforeach()
list(SORT exports)
if(NOT exports STREQUAL "FreeBuffer=1;GetDeviceCode=2")
  set(failures "${failures}\n  exports FreeBuffer=1;GetDeviceCode=2, found ${exports}")
endif()

if(failures)
  message(FATAL_ERROR "${DLL}:${failures}\n${table}")
endif()
message(STATUS "${DLL}: ${exports}")
