# Cross build for 64-bit Windows with Debian's MinGW-w64 (the "posix" thread
# model, which std::thread needs). Programs are linked statically, so that the
# .exe runs on a machine without the MinGW runtime DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZORVANE_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ZORVANE_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZORVANE_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${ZORVANE_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ZORVANE_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Tests and benchmarks run under Wine when it is there.
find_program(ZORVANE_WINE wine)
if(ZORVANE_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ZORVANE_WINE})
endif()
