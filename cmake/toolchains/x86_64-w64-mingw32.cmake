# Cross-compiles for 64-bit Windows with Debian's MinGW-w64 (the posix-threads variant, which the
# standard library's threads need). Programs built with it run here under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(HX_MINGW_PREFIX x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${HX_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${HX_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${HX_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${HX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The MinGW run time (libgcc, libstdc++, winpthread) is linked into every DLL and program, so a
# Windows host needs nothing but our DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

# Test programs run under Wine, inside a private network namespace.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../../scripts/wine-in-netns)
