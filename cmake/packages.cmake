# The players' packages (cmake --workflow --preset package), in dist/:
#   vorandel-VERSION-windows-x64.zip        Vorandel.exe, mrgtool.exe
#   vorandel-VERSION-linux-x86_64.tar.gz    this build's Vorandel and mrgtool,
#                                           linked statically by the preset
# each with vorandel.html, example/, and as plain text README.txt,
# CHANGELOG.txt, LICENSE.txt and the players' part of docs/, and SHA256SUMS
# beside them. The Windows build and the page are built here too, in windows/
# and web/, each with its own toolchain; pandoc makes the plain texts.
find_program(VORANDEL_MINGW x86_64-w64-mingw32-g++-posix)
find_program(VORANDEL_PANDOC pandoc)
set(VORANDEL_EMSCRIPTEN_TOOLCHAIN /usr/share/emscripten/cmake/Modules/Platform/Emscripten.cmake
    CACHE FILEPATH "emscripten's CMake toolchain file, for the page")
if(NOT VORANDEL_MINGW OR NOT VORANDEL_PANDOC OR NOT EXISTS ${VORANDEL_EMSCRIPTEN_TOOLCHAIN})
  message(FATAL_ERROR "The packages need mingw-w64 (g++-mingw-w64-x86-64-posix) for the "
                      "Windows build, emscripten (emscripten, node-acorn) for the page "
                      "and pandoc for the plain texts.")
endif()

include(ExternalProject)
# Both are release builds without tests, their programs stripped.
set(common_args -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DCMAKE_EXE_LINKER_FLAGS_RELEASE=-s)
ExternalProject_Add(windows_build
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${CMAKE_BINARY_DIR}/windows
  CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/mingw-w64-x86_64.cmake ${common_args}
  BUILD_COMMAND ${CMAKE_COMMAND} --build . --target Vorandel mrgtool
  INSTALL_COMMAND ""
  BUILD_ALWAYS ON)
ExternalProject_Add(web_build
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${CMAKE_BINARY_DIR}/web
  CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${VORANDEL_EMSCRIPTEN_TOOLCHAIN} ${common_args}
  BUILD_COMMAND ${CMAKE_COMMAND} --build . --target vorandel_html
  INSTALL_COMMAND ""
  BUILD_ALWAYS ON)

string(TOLOWER "${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR}" system)
set(windows_package vorandel-${PROJECT_VERSION}-windows-x64)
set(native_package vorandel-${PROJECT_VERSION}-${system})
set(dist ${CMAKE_BINARY_DIR}/dist)
add_custom_target(packages ALL
  COMMAND ${CMAKE_COMMAND} -DSOURCE=${PROJECT_SOURCE_DIR} -DOUT=${dist} -DPANDOC=${VORANDEL_PANDOC}
          -DSTAGE=${CMAKE_BINARY_DIR}/stage -DPAGE=${CMAKE_BINARY_DIR}/web/vorandel.html
          -DWINDOWS=${windows_package}
          "-DWINDOWS_TOOLS=${CMAKE_BINARY_DIR}/windows/Vorandel.exe,${CMAKE_BINARY_DIR}/windows/mrgtool.exe"
          -DNATIVE=${native_package} "-DNATIVE_TOOLS=$<TARGET_FILE:Vorandel>,$<TARGET_FILE:mrgtool>"
          -P ${PROJECT_SOURCE_DIR}/cmake/make_packages.cmake
  COMMENT "Packing ${windows_package}.zip and ${native_package}.tar.gz in ${dist}"
  VERBATIM)
add_dependencies(packages Vorandel mrgtool windows_build web_build)

# The package test: each package unpacked and run as a player would, skipped
# (status 77) where Wine, Chromium or playwright-core is missing.
enable_testing()
find_program(VORANDEL_NODE node REQUIRED)
find_program(VORANDEL_CHROMIUM NAMES chromium chromium-browser)
find_program(VORANDEL_WINE_FOR_TEST NAMES wine64 wine)
add_test(NAME package
  COMMAND ${VORANDEL_NODE} ${PROJECT_SOURCE_DIR}/tests/web/package_test.mjs
          --dist ${dist} --windows ${windows_package}.zip --native ${native_package}.tar.gz
          --version ${PROJECT_VERSION} --chromium ${VORANDEL_CHROMIUM}
          --wine ${VORANDEL_WINE_FOR_TEST} --readelf ${CMAKE_READELF} --objdump ${CMAKE_OBJDUMP}
          --scratch ${CMAKE_BINARY_DIR}/package-test)
set_tests_properties(package PROPERTIES SKIP_RETURN_CODE 77)
