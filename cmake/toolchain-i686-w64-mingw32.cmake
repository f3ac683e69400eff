# 32-bit Windows, the program's first target. ctest runs the test programs
# through Wine, which needs a kernel that executes 32-bit code.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(VELTO_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

find_program(VELTO_WINE NAMES wine wine-stable)
if(VELTO_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VELTO_WINE})
endif()
