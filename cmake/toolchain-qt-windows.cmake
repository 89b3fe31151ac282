# The Windows build against the Qt for Windows that scripts/build-qt-windows.sh installs: Qt's
# own qt.toolchain.cmake, chain-loading the project's mingw-w64 toolchain for the architecture the
# including file sets in PONDERIX_MINGW_ARCH. The Qt folder is PONDERIX_WINDOWS_QT when given,
# else the one the script names for this machine's Qt version and its configure options.
if(NOT PONDERIX_WINDOWS_QT)
  if(DEFINED ENV{_PONDERIX_WINDOWS_QT_${PONDERIX_MINGW_ARCH}})
    set(PONDERIX_WINDOWS_QT "$ENV{_PONDERIX_WINDOWS_QT_${PONDERIX_MINGW_ARCH}}")
  else()
    execute_process(
      COMMAND ${CMAKE_CURRENT_LIST_DIR}/../scripts/build-qt-windows.sh ${PONDERIX_MINGW_ARCH} --prefix
      OUTPUT_VARIABLE PONDERIX_WINDOWS_QT
      RESULT_VARIABLE installed
      OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT installed EQUAL 0)
      message(FATAL_ERROR "No Qt for Windows (${PONDERIX_MINGW_ARCH}) in ${PONDERIX_WINDOWS_QT}: "
                          "run scripts/build-qt-windows.sh ${PONDERIX_MINGW_ARCH} first")
    endif()
  endif()
endif()
if(NOT EXISTS "${PONDERIX_WINDOWS_QT}/lib/cmake/Qt6/qt.toolchain.cmake")
  message(FATAL_ERROR "${PONDERIX_WINDOWS_QT} holds no Qt 6 for Windows")
endif()
# Asked once per configure: the compiler checks read this file again.
set(ENV{_PONDERIX_WINDOWS_QT_${PONDERIX_MINGW_ARCH}} "${PONDERIX_WINDOWS_QT}")

set(QT_CHAINLOAD_TOOLCHAIN_FILE ${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw${PONDERIX_MINGW_BITS}.cmake)
include(${PONDERIX_WINDOWS_QT}/lib/cmake/Qt6/qt.toolchain.cmake)
