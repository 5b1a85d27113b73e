# Brings Wine up for the tests and down after them, in the prefix that
# WINEPREFIX names. Nothing Wine leaves running holds the caller's output.
#   cmake -DWINE=wine -DWINESERVER=wineserver -DSTEP=start|stop -P wine_server.cmake
# start: a server that stays a minute after its last program (Debian's
#   wineserver leaves at once, and each run would pay for Wine's start
#   again), then the prefix made or brought up to date.
# stop: the server and the prefix's programs ended.
function(run)
  execute_process(COMMAND ${ARGN}
                  INPUT_FILE /dev/null OUTPUT_FILE /dev/null ERROR_FILE /dev/null
                  RESULT_VARIABLE status)
  set(status ${status} PARENT_SCOPE)
endfunction()

if(STEP STREQUAL "start")
  # The server starts only in an existing folder; Wine fills an empty one.
  file(MAKE_DIRECTORY "$ENV{WINEPREFIX}")
  run(${WINESERVER} -p60)  # fails only where a server runs already
  run(${WINE} wineboot --init)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "wineboot failed (${status}) in the prefix $ENV{WINEPREFIX}")
  endif()
elseif(STEP STREQUAL "stop")
  run(${WINESERVER} -k)  # fails only where no server runs
else()
  message(FATAL_ERROR "STEP must be start or stop")
endif()
