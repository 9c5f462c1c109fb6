# Cross-compiles for 64-bit Windows with Debian's mingw-w64 (posix threads).
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(BRIM_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${BRIM_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${BRIM_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${BRIM_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${BRIM_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Wine runs the programs that the build itself runs (mkdvframe writing the
# template frame) and, through ctest, the test programs. Set WINEPREFIX to keep
# its configuration out of ~/.wine.
find_program(BRIM_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(BRIM_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR env WINEDEBUG=-all ${BRIM_WINE})
else()
  message(WARNING "wine64 not found: the build cannot write the template frame DVFRAME_NTSC")
endif()
