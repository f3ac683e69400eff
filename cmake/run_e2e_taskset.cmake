# cmake/run_e2e.cmake with the program started under `taskset -c ${PROCESSORS}`:
#   cmake -DPROCESSORS=1 -DPROGRAM=... -DARGS=... -DSTATUS=0 ... -P run_e2e_taskset.cmake
# Skipped where taskset cannot bind a process to those processors (no taskset,
# a machine of one processor, a cpuset without them).
execute_process(COMMAND taskset -c ${PROCESSORS} true
  RESULT_VARIABLE _bound OUTPUT_QUIET ERROR_QUIET)
if(NOT _bound STREQUAL "0")
  message("velto-e2e: skipped, taskset cannot bind to processors ${PROCESSORS} here (${_bound})")
  return()
endif()
set(EMULATOR taskset -c ${PROCESSORS})
include(${CMAKE_CURRENT_LIST_DIR}/../cmake/run_e2e.cmake)
