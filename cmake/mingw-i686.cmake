# Cross-compiling for 32-bit Windows with mingw-w64 (Debian's i686-w64-mingw32 packages).
#   cmake -S . -B build/win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=MinSizeRel
set(CMAKE_SYSTEM_PROCESSOR x86)
set(NB_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
