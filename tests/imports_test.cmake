# A Windows executable handed to players must run on a clean Windows: it may
# import the system's own DLLs only, never a compiler's runtime.
# cmake -DOBJDUMP=objdump -DEXE=Vorandel.exe -P imports_test.cmake
cmake_minimum_required(VERSION 3.25)
set(system_dlls kernel32 msvcrt ntdll advapi32 user32 shell32 ws2_32 ucrtbase)
execute_process(COMMAND "${OBJDUMP}" -p "${EXE}" RESULT_VARIABLE status
                OUTPUT_VARIABLE dump ERROR_VARIABLE dump)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} failed:\n${dump}")
endif()
string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
if(NOT imports)
  message(FATAL_ERROR "no imports found in ${EXE}")
endif()
foreach(import IN LISTS imports)
  string(REGEX REPLACE "^DLL Name: (.+)\\.[dD][lL][lL]$" "\\1" dll "${import}")
  string(TOLOWER "${dll}" dll)
  if(NOT dll IN_LIST system_dlls AND NOT dll MATCHES "^api-ms-win-")
    message(FATAL_ERROR "${EXE} imports ${import}, which a clean Windows lacks")
  endif()
endforeach()
message("${EXE}: ${imports}")
