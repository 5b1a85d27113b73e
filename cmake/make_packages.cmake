# Lays out the players' packages in STAGE and packs them into OUT, with their
# SHA256SUMS; packages.cmake says what they hold.
# cmake -DSOURCE=. -DOUT=dist -DSTAGE=stage -DPAGE=vorandel.html -DPANDOC=pandoc
#       -DWINDOWS=NAME -DWINDOWS_TOOLS=a.exe,b.exe -DNATIVE=NAME -DNATIVE_TOOLS=a,b
#       -P make_packages.cmake
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE "${OUT}" "${STAGE}")

# The texts as plain text (packages.cmake says how): each Markdown one by
# pandoc, LICENSE as it is.
set(texts README.md CHANGELOG.md docs/messages.md docs/safety.md docs/mrgtool.md docs/format.md)
string(JOIN "," packaged LICENSE ${texts})
foreach(text IN LISTS texts)
  string(REGEX REPLACE "\\.md$" ".txt" plain "${text}")
  get_filename_component(folder "${STAGE}/texts/${plain}" DIRECTORY)
  file(MAKE_DIRECTORY "${folder}")
  execute_process(COMMAND "${PANDOC}" -f gfm -t plain --columns=80
                          "--lua-filter=${SOURCE}/cmake/plain_text.lua"
                          -M "source=${text}" -M "packaged=${packaged}"
                          -o "${STAGE}/texts/${plain}" "${text}"
                  WORKING_DIRECTORY "${SOURCE}" COMMAND_ERROR_IS_FATAL ANY)
endforeach()
file(COPY_FILE "${SOURCE}/LICENSE" "${STAGE}/texts/LICENSE.txt")
file(GLOB_RECURSE plain_texts RELATIVE "${STAGE}/texts" "${STAGE}/texts/*")

# pack(NAME TOOLS NEWLINE MODE FORMAT EXTENSION)
function(pack name tools newline mode format extension)
  set(top "${STAGE}/${name}")
  string(REPLACE "," ";" tools "${tools}")
  file(COPY ${tools} "${PAGE}" DESTINATION "${top}")
  file(COPY "${SOURCE}/examples/keep.lvl" "${SOURCE}/examples/keep.mrg"
       DESTINATION "${top}/example")
  foreach(plain IN LISTS plain_texts)
    file(READ "${STAGE}/texts/${plain}" text)
    string(REPLACE "\n" "${newline}" text "${text}")
    file(WRITE "${top}/${plain}" "${text}")
  endforeach()
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
