# Runs the real program once with standard input closed and checks its exit
# status and both output streams:
#   cmake -DPROGRAM=... -DARGS=a|b -DSTATUS=0 -DOUT_REGEX=... -DERR_REGEX=... -P run_e2e.cmake
# Arguments are separated by "|". EMULATOR, when set, is put before the program
# (Wine for the Windows build). With ONLY_IF_NOT_COMPLIANT the check is skipped
# on a machine whose fast timer meets the HWBOT rules. TIMEOUT (seconds, 300 by
# default) bounds the run. A check that must exceed the machine's memory names its
# request by placeholders ({threads_beyond_memory:N}, {one_field_size},
# {one_field_threads}, in ARGS and in the regexes), which are replaced here by
# what the memory available now asks for (e2e_requests.cmake, with the grid
# facts GRID_FACTS prints).
if("${ARGS}${OUT_REGEX}${ERR_REGEX}" MATCHES "{(threads_beyond_memory:[0-9]+|one_field_size|one_field_threads)}")
  include(${CMAKE_CURRENT_LIST_DIR}/e2e_requests.cmake)
  velto_load_grid_facts("${GRID_FACTS}" "${EMULATOR}")
  velto_available_memory(_available)
  velto_expand_memory_placeholders(${_available} ARGS OUT_REGEX ERR_REGEX)
  message("velto-e2e: ${_available} bytes available; arguments ${ARGS}")
endif()
string(REPLACE "|" ";" _args "${ARGS}")
if(NOT DEFINED TIMEOUT)
  set(TIMEOUT 300)
endif()
if(ONLY_IF_NOT_COMPLIANT)
  execute_process(COMMAND ${EMULATOR} ${PROGRAM} --timer-debug INPUT_FILE /dev/null
    OUTPUT_VARIABLE _report ERROR_QUIET TIMEOUT 120)
  if(_report MATCHES "Fast timer is hwbot compliant")
    message("velto-e2e: skipped, the fast timer is compliant on this machine")
    return()
  endif()
endif()
set(_command ${EMULATOR} ${PROGRAM} ${_args})
execute_process(COMMAND ${_command}
  INPUT_FILE /dev/null
  OUTPUT_VARIABLE _out ERROR_VARIABLE _err RESULT_VARIABLE _status
  TIMEOUT ${TIMEOUT})
set(_failed FALSE)
if(NOT "${_status}" STREQUAL "${STATUS}")
  message(SEND_ERROR "exit status ${_status}, expected ${STATUS}")
  set(_failed TRUE)
endif()
if(DEFINED OUT_REGEX AND NOT _out MATCHES "${OUT_REGEX}")
  message(SEND_ERROR "standard output does not match: ${OUT_REGEX}")
  set(_failed TRUE)
endif()
if(DEFINED ERR_REGEX AND NOT _err MATCHES "${ERR_REGEX}")
  message(SEND_ERROR "standard error does not match: ${ERR_REGEX}")
  set(_failed TRUE)
endif()
if(_failed)
  string(REPLACE ";" " " _shown "${_command}")
  message(FATAL_ERROR "command: ${_shown}\n--- standard output ---\n${_out}\n--- standard error ---\n${_err}")
endif()
