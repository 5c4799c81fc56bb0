# Cross toolchain for the 32-bit DLL, for hosts that run as 32-bit processes
# (a process loads only DLLs of its own bitness). Use with
#   cmake -S . -B build/mingw32 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake
set(MIRL_MINGW_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
