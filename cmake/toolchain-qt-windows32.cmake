# 32-bit Windows (i686) with Qt for Windows.
set(PONDERIX_MINGW_ARCH i686)
set(PONDERIX_MINGW_BITS 32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-qt-windows.cmake)
