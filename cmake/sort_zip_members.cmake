# Run by cpack after it has made the zip. cpack takes the staged files in the
# order the file system lists them (on ext4 the order of the names' hashes,
# which differs from one file system to the next), so the zip is written again
# from the same staged files with its members sorted and every member stamped
# with SOURCE_DATE_EPOCH. scripts/package checks the order it gets.

if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  message(FATAL_ERROR "sort_zip_members: SOURCE_DATE_EPOCH is not set")
endif()

foreach(_package IN LISTS CPACK_PACKAGE_FILES)
  if(NOT _package MATCHES "\\.zip$")
    continue()
  endif()
  get_filename_component(_top "${_package}" NAME_WLE)
  execute_process(
    COMMAND "${CPACK_VELTO_PYTHON3}" "${CPACK_VELTO_SOURCE_DIR}/packaging/sorted_zip.py"
            "${_package}" "${CPACK_TOPLEVEL_DIRECTORY}" "${_top}" "$ENV{SOURCE_DATE_EPOCH}"
    RESULT_VARIABLE _status)
  if(NOT _status EQUAL 0)
    message(FATAL_ERROR "sort_zip_members: could not write '${_package}' again")
  endif()
endforeach()
