# Cross-compiling for 64-bit Windows with mingw-w64 (Debian's x86_64-w64-mingw32 packages).
# Wine can run this build where the host cannot run 32-bit code (see scripts/wine-env.sh).
#   cmake -S . -B build/win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DCMAKE_BUILD_TYPE=MinSizeRel
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(NB_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
