# Lays out the players' packages in STAGE and packs them into OUT, with their
# SHA256SUMS; packages.cmake says what they hold.
# cmake -DSOURCE=. -DOUT=dist -DSTAGE=stage -DPAGE=vorandel.html
#       -DWINDOWS=NAME -DWINDOWS_TOOLS=a.exe,b.exe -DNATIVE=NAME -DNATIVE_TOOLS=a,b
#       -P make_packages.cmake
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE "${OUT}" "${STAGE}")

# The README as plain text: the picture left out, the license named as its
# file in the package, and each other link as its text, which the README
# makes the path it leads to.
file(READ "${SOURCE}/README.md" readme)
string(REGEX REPLACE "!\\[[^]\n]*\\]\\([^)\n]*\\)\n\n" "" readme "${readme}")
string(REPLACE "[LICENSE](LICENSE)" "LICENSE.txt" readme "${readme}")
string(REGEX REPLACE "\\[([^]\n]*)\\]\\([^)\n]*\\)" "\\1" readme "${readme}")
file(READ "${SOURCE}/LICENSE" license)

# pack(NAME TOOLS NEWLINE MODE FORMAT EXTENSION)
function(pack name tools newline mode format extension)
  set(top "${STAGE}/${name}")
  string(REPLACE "," ";" tools "${tools}")
  file(COPY ${tools} "${PAGE}" DESTINATION "${top}")
  file(COPY "${SOURCE}/examples/keep.lvl" "${SOURCE}/examples/keep.mrg"
       DESTINATION "${top}/example")
  string(REPLACE "\n" "${newline}" text "${readme}")
  file(WRITE "${top}/README.txt" "${text}")
  string(REPLACE "\n" "${newline}" text "${license}")
  file(WRITE "${top}/LICENSE.txt" "${text}")
  file(MAKE_DIRECTORY "${OUT}")
  execute_process(COMMAND "${CMAKE_COMMAND}" -E tar ${mode} "${OUT}/${name}.${extension}"
                          --format=${format} "${name}"
                  WORKING_DIRECTORY "${STAGE}" COMMAND_ERROR_IS_FATAL ANY)
  file(SHA256 "${OUT}/${name}.${extension}" sum)
  file(APPEND "${OUT}/SHA256SUMS" "${sum}  ${name}.${extension}\n")
  file(SIZE "${OUT}/${name}.${extension}" size)
  message("${OUT}/${name}.${extension}: ${size} bytes")
endfunction()

# Windows' own line ends in the zip's text files.
pack("${WINDOWS}" "${WINDOWS_TOOLS}" "\r\n" cf zip zip)
pack("${NATIVE}" "${NATIVE_TOOLS}" "\n" czf gnutar tar.gz)
