# Cross-building for 64-bit Windows with Debian's MinGW-w64 tool chain.
# Every library is linked in statically, so the DLLs import only the
# system's own DLLs and need no runtime beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QP_MINGW_PREFIX x86_64-w64-mingw32)
# The POSIX threading flavour: std::thread and std::mutex need it with GCC 12.
find_program(CMAKE_CXX_COMPILER NAMES ${QP_MINGW_PREFIX}-g++-posix ${QP_MINGW_PREFIX}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${QP_MINGW_PREFIX}-windres REQUIRED)
set(QP_WIDL ${QP_MINGW_PREFIX}-widl CACHE STRING "The IDL compiler")

set(CMAKE_FIND_ROOT_PATH /usr/${QP_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Programs the build runs (the type library's IDL writer) run under Wine,
# in a prefix of the build's own.
# Wine's server keeps its socket folder under TMPDIR: in the build tree,
# not in /tmp.
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/wine-tmp)
set(CMAKE_CROSSCOMPILING_EMULATOR
  env WINEDEBUG=-all WINEARCH=win64 "WINEDLLOVERRIDES=mscoree=" WINEPREFIX=${CMAKE_BINARY_DIR}/wine-prefix
  TMPDIR=${CMAKE_BINARY_DIR}/wine-tmp
  /usr/lib/wine/wine64)
