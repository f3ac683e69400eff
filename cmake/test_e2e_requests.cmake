# Checks the derivation of the heavy end-to-end requests (e2e_requests.cmake)
# for machines of several sizes, whatever this machine has:
#   cmake -DGRID_FACTS=.../velto_grid_facts [-DEMULATOR=...] -P test_e2e_requests.cmake
include(${CMAKE_CURRENT_LIST_DIR}/e2e_requests.cmake)
velto_load_grid_facts("${GRID_FACTS}" "${EMULATOR}")

set(_failures 0)
# available bytes | -s and -n of the one-field check | -n of 192-threads check
foreach(_row
    "1048576|64|2|2"                  # 1 MiB: not even one field of size 64
    "4294967296|448|1|11"             # 4 GiB
    "25769803776|768|1|57"            # 24 GiB
    "29218111999|768|1|64"            # one byte short of two fields of 768
    "29218112000|768|3|64"            # exactly two fields of 768: none fits one but not two
    "33285996544|768|3|73"            # 31 GiB: between two fields of 768 and one of 1024
    "34561458432|1024|1|75"           # exactly one field of 1024
    "137438953472|1024|3|296"         # 128 GiB: between two fields of 1024 and one of 2048
    "1099511627776|2048|3|2354")      # 1 TiB
  string(REPLACE "|" ";" _row "${_row}")
  list(GET _row 0 _available)
  list(GET _row 1 _want_size)
  list(GET _row 2 _want_threads)
  list(GET _row 3 _want_192)
  set(_args "-s|{one_field_size}|-n|{one_field_threads}")
  set(_threads "-s|192|-n|{threads_beyond_memory:192}|x{threads_beyond_memory:64}")
  velto_expand_memory_placeholders(${_available} _args _threads)
  velto_threads_beyond_memory(${_available} 64 _want_64)
  set(_want_args "-s|${_want_size}|-n|${_want_threads}")
  set(_want_threads_args "-s|192|-n|${_want_192}|x${_want_64}")
  if(NOT _args STREQUAL _want_args OR NOT _threads STREQUAL _want_threads_args)
    message(SEND_ERROR "${_available} bytes: '${_args}' and '${_threads}', expected '${_want_args}' and '${_want_threads_args}'")
    math(EXPR _failures "${_failures} + 1")
  endif()
  # Whatever the size: the request exceeds the memory, and a one-thread request
  # gets its first field.
  velto_thread_bytes(${_want_size} _pair)
  velto_field_bytes(${_want_size} _field)
  math(EXPR _asked "${_pair} * ${_want_threads}")
  if(_asked LESS_EQUAL _available OR (_want_threads EQUAL 1 AND _field GREATER _available))
    message(SEND_ERROR "${_available} bytes: -s ${_want_size} -n ${_want_threads} does not fit the rule")
    math(EXPR _failures "${_failures} + 1")
  endif()
endforeach()
if(_failures GREATER 0)
  message(FATAL_ERROR "${_failures} derivations wrong")
endif()
message("all derivations as expected")
