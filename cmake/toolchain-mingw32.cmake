# Cross-compiling for 32-bit Windows (i686) with mingw-w64.
set(PONDERIX_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
