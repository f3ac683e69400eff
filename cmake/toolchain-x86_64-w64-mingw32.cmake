# 64-bit Windows: the same Win32 code, for machines whose kernel refuses 32-bit
# code (Wine's 32-bit loader is itself a 32-bit program). ctest runs the test
# programs through the 64-bit Wine loader directly; Debian's `wine` wrapper
# would pick the 32-bit one.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(VELTO_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

find_program(VELTO_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(NOT VELTO_WINE64)
  find_program(VELTO_WINE64 NAMES wine64 wine64-stable)
endif()
if(VELTO_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VELTO_WINE64})
endif()
