# Makes the build's package in a scratch folder and checks what it holds:
# the tools under bin/ and the README, in one top folder named as the package.
# cmake -DCPACK=cpack -DBUILD=build/folder -DTOOLS=Vorandel,mrgtool -P package_test.cmake
set(out "${BUILD}/package-test")
file(REMOVE_RECURSE "${out}")
execute_process(COMMAND "${CPACK}" --config "${BUILD}/CPackConfig.cmake" -B "${out}"
                RESULT_VARIABLE status OUTPUT_VARIABLE said ERROR_VARIABLE said)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cpack failed:\n${said}")
endif()

file(GLOB packages "${out}/*.zip" "${out}/*.tar.gz")
list(LENGTH packages count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "expected one package in ${out}, found: ${packages}")
endif()
get_filename_component(name "${packages}" NAME)
string(REGEX REPLACE "\\.(zip|tar\\.gz)$" "" top "${name}")

execute_process(COMMAND "${CMAKE_COMMAND}" -E tar tf "${packages}"
                RESULT_VARIABLE status OUTPUT_VARIABLE listing)
string(REPLACE "\n" ";" entries "${listing}")
string(REPLACE "," ";" tools "${TOOLS}")
list(TRANSFORM tools PREPEND "${top}/bin/")
foreach(wanted ${tools} "${top}/README.md|${top}/share/doc/vorandel/README.md")
  set(found FALSE)
  foreach(entry IN LISTS entries)
    if(entry MATCHES "^(${wanted})$")
      set(found TRUE)
    endif()
  endforeach()
  if(NOT found)
    message(FATAL_ERROR "${name} lacks ${wanted}; it holds:\n${listing}")
  endif()
endforeach()
message("${name} holds:\n${listing}")
file(REMOVE_RECURSE "${out}")
