# Runs the tool on the example level in a scratch copy and shows the result.
# cmake -DTOOL=path/to/Vorandel -DEXAMPLES=examples -DSCRATCH=folder -P demo.cmake
file(REMOVE_RECURSE "${SCRATCH}")
file(MAKE_DIRECTORY "${SCRATCH}")
file(COPY "${EXAMPLES}/keep.lvl" "${EXAMPLES}/keep.mrg" DESTINATION "${SCRATCH}")

message("In ${SCRATCH}:\n$ Vorandel keep.mrg")
execute_process(COMMAND "${TOOL}" keep.mrg
                WORKING_DIRECTORY "${SCRATCH}"
                OUTPUT_VARIABLE said
                RESULT_VARIABLE status)
message("${said}(exit status ${status})\n")
if(NOT status EQUAL 0)
  message(FATAL_ERROR "the merge failed")
endif()

file(READ "${SCRATCH}/keep.lvl.bak" before)
file(READ "${SCRATCH}/keep.lvl" after)
message("keep.lvl.bak, the level before:\n${before}")
message("keep.lvl, the level after:\n${after}")
