# Cross-compiling for 32-bit Windows (i686) with mingw-w64.
set(PONDERIX_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)

# Doubles in SSE2 registers, as on x86_64: the x87 unit's 80-bit intermediates made results at
# exact edges (a zero at the edge of its range, a reading on a stability bound) differ from the
# 64-bit build, so a recording made on one replayed differently on the other.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
