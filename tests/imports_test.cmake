# A Windows executable handed to players must run on a clean Windows: it may
# import the system's own DLLs only, never a compiler's runtime. And it names
# its version in its version resource, which Explorer's Properties show.
# cmake -DOBJDUMP=objdump -DEXE=Vorandel.exe -DVERSION=1.0.0 -P imports_test.cmake
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

# The resource's strings are UTF-16: each key, then its value.
file(STRINGS "${EXE}" strings ENCODING UTF-16LE REGEX "^(FileVersion|ProductVersion|[0-9.]+)$")
string(REPLACE "." "\\." version "${VERSION}")
foreach(key FileVersion ProductVersion)
  if(NOT "${strings};" MATCHES "${key};${version};")
    message(FATAL_ERROR "${EXE} has no ${key} ${VERSION} in a version resource")
  endif()
endforeach()
