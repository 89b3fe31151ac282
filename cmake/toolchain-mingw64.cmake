# Cross-compiling for 64-bit Windows (x86_64) with mingw-w64.
set(PONDERIX_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
