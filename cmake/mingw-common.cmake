# Shared by the two mingw-w64 toolchain files: Debian's cross compilers of the
# POSIX thread model (std::thread, std::mutex and std::barrier need it).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${VELTO_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELTO_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VELTO_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VELTO_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
