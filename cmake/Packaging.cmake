# What `cmake --install` puts where, and the CPack settings of the release
# packages: a .deb of the native Linux build, a zip of each Windows build.
# scripts/package drives it; the packages are reproducible when
# SOURCE_DATE_EPOCH is set (CPack stamps every member with it) and the build
# has VELTO_PACKAGE on (no build paths or link time in the binaries).

set(VELTO_PACKAGING_DIR "${PROJECT_SOURCE_DIR}/packaging")
set(VELTO_PACKAGE_STAGE "${PROJECT_BINARY_DIR}/package-files")
file(MAKE_DIRECTORY "${VELTO_PACKAGE_STAGE}")

set(CPACK_PACKAGE_NAME velto)
set(CPACK_PACKAGE_VENDOR "The velto developers")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "CPU benchmark running a 3-D electromagnetic field solver")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_STRIP_FILES ON)
set(CPACK_OUTPUT_FILE_PREFIX "${VELTO_PACKAGE_OUTPUT_DIR}")

# Copies a text with every line ended by CR LF (also the lines that a
# substituted variable brought in, which configure_file's NEWLINE_STYLE keeps).
function(velto_windows_text from to)
  file(READ "${from}" _content)
  string(REPLACE "\r\n" "\n" _content "${_content}")
  string(REPLACE "\n" "\r\n" _content "${_content}")
  file(WRITE "${to}.tmp" "${_content}")
  file(COPY_FILE "${to}.tmp" "${to}" ONLY_IF_DIFFERENT)
  file(REMOVE "${to}.tmp")
endfunction()

if(WIN32)
  # The zip holds the program and two texts a Windows user can open, with
  # Windows line ends, in one folder named like the zip.
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(VELTO_PACKAGE_FLAVOUR win32)
    set(VELTO_PACKAGE_FLAVOUR_TEXT "32-bit x86")
    set(VELTO_PACKAGE_MEMORY_NOTE [=[
This 32-bit program is large-address-aware: on 64-bit Windows it has 4 GiB of
address space, enough for one thread up to size 320; on 32-bit Windows (2 GiB)
one thread runs up to size 256. It refuses sizes of 512 and above. The 64-bit
build (the win64 zip) is limited by the memory alone.
]=])
  else()
    set(VELTO_PACKAGE_FLAVOUR win64)
    set(VELTO_PACKAGE_FLAVOUR_TEXT "64-bit x86")
    set(VELTO_PACKAGE_MEMORY_NOTE "")
  endif()
  configure_file("${VELTO_PACKAGING_DIR}/windows/README.txt.in"
                 "${VELTO_PACKAGE_STAGE}/README.lf.txt" @ONLY)
  velto_windows_text("${VELTO_PACKAGE_STAGE}/README.lf.txt" "${VELTO_PACKAGE_STAGE}/README.txt")
  velto_windows_text("${PROJECT_SOURCE_DIR}/LICENSE" "${VELTO_PACKAGE_STAGE}/LICENSE.txt")
  install(FILES "${VELTO_PACKAGE_STAGE}/LICENSE.txt" "${VELTO_PACKAGE_STAGE}/README.txt"
          DESTINATION .)
  install(TARGETS velto RUNTIME DESTINATION .)

  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME "velto-${PROJECT_VERSION}-${VELTO_PACKAGE_FLAVOUR}")
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  # cpack's zip lists its members in the file system's order: made again, sorted.
  set(CPACK_POST_BUILD_SCRIPTS "${PROJECT_SOURCE_DIR}/cmake/sort_zip_members.cmake")
  set(CPACK_VELTO_PYTHON3 /usr/bin/python3)
  set(CPACK_VELTO_SOURCE_DIR "${PROJECT_SOURCE_DIR}")
else()
  include(GNUInstallDirs)
  install(TARGETS velto RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

  # The report tool: a launcher in bin/, its Python package and the record's
  # schema under share/velto/, where the launcher and the package look.
  install(PROGRAMS "${PROJECT_SOURCE_DIR}/tools/velto-report" DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(DIRECTORY "${PROJECT_SOURCE_DIR}/tools/velto_report"
          DESTINATION ${CMAKE_INSTALL_DATADIR}/velto/tools
          FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
          FILES_MATCHING PATTERN "*.py" PATTERN "__pycache__" EXCLUDE)
  install(FILES "${PROJECT_SOURCE_DIR}/docs/velto-result.schema.json"
          DESTINATION ${CMAKE_INSTALL_DATADIR}/velto/docs)

  # Manual pages and the changelog, compressed the way Debian keeps them: at
  # the highest level, with neither name nor time in the gzip header.
  find_program(VELTO_GZIP gzip REQUIRED)
  set(_man_pages "${PROJECT_SOURCE_DIR}/docs/velto.1")
  if(EXISTS "${PROJECT_SOURCE_DIR}/docs/velto-report.1")
    list(APPEND _man_pages "${PROJECT_SOURCE_DIR}/docs/velto-report.1")
  endif()
  set(_compressed)
  foreach(_page IN LISTS _man_pages)
    get_filename_component(_name "${_page}" NAME)
    add_custom_command(OUTPUT "${VELTO_PACKAGE_STAGE}/${_name}.gz"
      COMMAND ${VELTO_GZIP} -9 -n -c "${_page}" > "${VELTO_PACKAGE_STAGE}/${_name}.gz"
      DEPENDS "${_page}" VERBATIM)
    list(APPEND _compressed "${VELTO_PACKAGE_STAGE}/${_name}.gz")
    install(FILES "${VELTO_PACKAGE_STAGE}/${_name}.gz" DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endforeach()
  add_custom_command(OUTPUT "${VELTO_PACKAGE_STAGE}/changelog.gz"
    COMMAND ${VELTO_GZIP} -9 -n -c "${VELTO_PACKAGING_DIR}/debian/changelog"
            > "${VELTO_PACKAGE_STAGE}/changelog.gz"
    DEPENDS "${VELTO_PACKAGING_DIR}/debian/changelog" VERBATIM)
  list(APPEND _compressed "${VELTO_PACKAGE_STAGE}/changelog.gz")
  add_custom_target(velto_package_files ALL DEPENDS ${_compressed})

  set(_doc ${CMAKE_INSTALL_DATADIR}/doc/velto)
  install(FILES "${VELTO_PACKAGE_STAGE}/changelog.gz" "${VELTO_PACKAGING_DIR}/debian/copyright"
          "${PROJECT_SOURCE_DIR}/README.md" DESTINATION ${_doc})
  file(GLOB _docs "${PROJECT_SOURCE_DIR}/docs/*.md" "${PROJECT_SOURCE_DIR}/docs/*.json"
       "${PROJECT_SOURCE_DIR}/docs/*.png")
  list(SORT _docs)
  install(FILES ${_docs} DESTINATION ${_doc}/docs)

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The velto developers <velto@example.org>")
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # Depends from the libraries the program links (libhwloc15, libfmt9, the C
  # and C++ runtimes); only the report tool needs Python.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "python3, python3-matplotlib, python3-jsonschema")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  # The synopsis is CPACK_PACKAGE_DESCRIPTION_SUMMARY; this is the rest.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Each worker thread of velto runs a leap-frog finite-difference solver of
Maxwell's equations on a cubic grid in double precision for a fixed time,
checks after every step that the physics still holds, and velto prints a
score in million grid-point updates per second (MGups).
.
Before a run it describes the machine: the processor and its instruction-set
extensions, the NUMA, cache and core topology, the free memory and its two
timers. It writes a JSON result record on request; velto-report makes
tables and charts of such records.")
endif()

include(CPack)
