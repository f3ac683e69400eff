# The requests of the end-to-end checks that must exceed the machine's memory,
# derived from the memory available when the check runs (MemAvailable of
# /proc/meminfo: the tests run on Linux, natively or under Wine, which runs on
# the same kernel), so that they exceed it on a machine of 128 GiB as on one of
# 24 GiB. Included by run_e2e.cmake and by test_e2e_requests.cmake.
#
# Placeholders that run_e2e.cmake replaces in ARGS, OUT_REGEX and ERR_REGEX:
#   {threads_beyond_memory:N}  floor(available / memory_per_thread(N)) + 2 threads
#                              at grid size N: more threads than the memory holds
#   {one_field_size}           the smallest grid size whose single field fits the
#                              available memory but whose two fields do not ...
#   {one_field_threads}        ... run by 1 thread; where no size has that
#                              property, the largest size whose two fields fit
#                              (the smallest when none does) with floor(available /
#                              memory_per_thread) + 2 threads
# The grid sizes and the bytes of a field and of a thread's fields at each come
# from the code itself: velto_load_grid_facts runs the test program
# velto_grid_facts (tests/support/grid_facts.cpp), which prints them.

# Reads "size field_bytes thread_bytes" lines from `program` (run through
# `emulator` when one is given) into VELTO_E2E_GRID_SIZES and the bytes of
# each size, in the caller's scope.
macro(velto_load_grid_facts program emulator)
  execute_process(COMMAND ${emulator} ${program} OUTPUT_VARIABLE _facts RESULT_VARIABLE _status
    INPUT_FILE /dev/null TIMEOUT 120)
  if(NOT _status EQUAL 0 OR NOT _facts MATCHES "^[0-9]+ [0-9]+ [0-9]+")
    message(FATAL_ERROR "velto-e2e: ${program} gave no grid facts (status ${_status})")
  endif()
  set(VELTO_E2E_GRID_SIZES)
  string(REGEX MATCHALL "[0-9]+ [0-9]+ [0-9]+" _lines "${_facts}")
  foreach(_line IN LISTS _lines)
    string(REPLACE " " ";" _line "${_line}")
    list(GET _line 0 _size)
    list(APPEND VELTO_E2E_GRID_SIZES ${_size})
    list(GET _line 1 VELTO_E2E_FIELD_BYTES_${_size})
    list(GET _line 2 VELTO_E2E_THREAD_BYTES_${_size})
  endforeach()
endmacro()

function(velto_field_bytes size out)
  if(NOT DEFINED VELTO_E2E_FIELD_BYTES_${size})
    message(FATAL_ERROR "velto-e2e: no grid facts for size ${size}")
  endif()
  set(${out} ${VELTO_E2E_FIELD_BYTES_${size}} PARENT_SCOPE)
endfunction()

function(velto_thread_bytes size out)
  if(NOT DEFINED VELTO_E2E_THREAD_BYTES_${size})
    message(FATAL_ERROR "velto-e2e: no grid facts for size ${size}")
  endif()
  set(${out} ${VELTO_E2E_THREAD_BYTES_${size}} PARENT_SCOPE)
endfunction()

# Bytes available now, from /proc/meminfo; a fatal error where there is none.
function(velto_available_memory out)
  if(DEFINED ENV{VELTO_E2E_MEMAVAILABLE})
    # To try the derivation of another machine: a value below what this machine
    # has available makes the checks ask for less than it holds, and fail.
    set(${out} "$ENV{VELTO_E2E_MEMAVAILABLE}" PARENT_SCOPE)
    return()
  endif()
  file(STRINGS /proc/meminfo _line REGEX "^MemAvailable:")
  if(NOT _line MATCHES "^MemAvailable: +([0-9]+) kB$")
    message(FATAL_ERROR "velto-e2e: no MemAvailable in /proc/meminfo to derive the request from")
  endif()
  math(EXPR _bytes "${CMAKE_MATCH_1} * 1024")
  set(${out} ${_bytes} PARENT_SCOPE)
endfunction()

function(velto_threads_beyond_memory available size out)
  velto_thread_bytes(${size} _per_thread)
  math(EXPR _threads "${available} / ${_per_thread} + 2")
  set(${out} ${_threads} PARENT_SCOPE)
endfunction()

function(velto_one_field_beyond_memory available out_size out_threads)
  list(GET VELTO_E2E_GRID_SIZES 0 _largest_pair)
  foreach(_size IN LISTS VELTO_E2E_GRID_SIZES)
    velto_field_bytes(${_size} _field)
    velto_thread_bytes(${_size} _pair)
    if(_field LESS_EQUAL available AND _pair GREATER available)
      set(${out_size} ${_size} PARENT_SCOPE)
      set(${out_threads} 1 PARENT_SCOPE)
      return()
    endif()
    if(_pair LESS_EQUAL available)
      set(_largest_pair ${_size})
    endif()
  endforeach()
  velto_threads_beyond_memory(${available} ${_largest_pair} _threads)
  set(${out_size} ${_largest_pair} PARENT_SCOPE)
  set(${out_threads} ${_threads} PARENT_SCOPE)
endfunction()

# Replaces the placeholders above in the variables named by the arguments
# (their values, in the caller's scope; undefined ones stay undefined), with
# `available` bytes.
function(velto_expand_memory_placeholders available)
  velto_one_field_beyond_memory(${available} _one_size _one_threads)
  foreach(_var IN LISTS ARGN)
    if(NOT DEFINED ${_var})
      continue()
    endif()
    set(_text "${${_var}}")
    string(REPLACE "{one_field_size}" "${_one_size}" _text "${_text}")
    string(REPLACE "{one_field_threads}" "${_one_threads}" _text "${_text}")
    while(_text MATCHES "{threads_beyond_memory:([0-9]+)}")
      set(_size ${CMAKE_MATCH_1})
      velto_threads_beyond_memory(${available} ${_size} _threads)
      string(REPLACE "{threads_beyond_memory:${_size}}" "${_threads}" _text "${_text}")
    endwhile()
    set(${_var} "${_text}" PARENT_SCOPE)
  endforeach()
endfunction()
