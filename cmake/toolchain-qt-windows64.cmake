# 64-bit Windows (x86_64) with Qt for Windows.
set(PONDERIX_MINGW_ARCH x86_64)
set(PONDERIX_MINGW_BITS 64)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-qt-windows.cmake)
