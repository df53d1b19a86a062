# Cross-compiles the Windows console program on Linux with MinGW-w64 (Debian, Ubuntu:
# g++-mingw-w64-x86-64-posix, mingw-w64, libz-mingw-w64-dev). The posix flavour of the compiler
# has std::thread, which -j needs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(DORVEX_MINGW_TRIPLET x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${DORVEX_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${DORVEX_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${DORVEX_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${DORVEX_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs built here run on Linux under Wine (Debian: wine64), for the tests.
find_program(DORVEX_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(DORVEX_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${DORVEX_WINE})
endif()
