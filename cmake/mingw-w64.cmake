# Cross toolchain for the Windows build: 64-bit MinGW-w64 with win32 threads
# (no libwinpthread at run time). Use with
#   cmake -S . -B build/mingw -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
# cmake/mingw-w64-i686.cmake includes it for the 32-bit DLL.
set(CMAKE_SYSTEM_NAME Windows)
if(NOT MIRL_MINGW_PROCESSOR)
  set(MIRL_MINGW_PROCESSOR x86_64)
endif()
set(CMAKE_SYSTEM_PROCESSOR ${MIRL_MINGW_PROCESSOR})

set(MIRL_MINGW_PREFIX ${MIRL_MINGW_PROCESSOR}-w64-mingw32)
set(CMAKE_C_COMPILER ${MIRL_MINGW_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${MIRL_MINGW_PREFIX}-g++)
set(CMAKE_RC_COMPILER ${MIRL_MINGW_PREFIX}-windres)
set(MIRL_WIDL ${MIRL_MINGW_PREFIX}-widl CACHE FILEPATH "widl for the MinGW-w64 target")

set(CMAKE_FIND_ROOT_PATH /usr/${MIRL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test executables run under Wine (see cmake/wine-run.sh.in).
set(MIRL_RUN_UNDER_WINE ON)
