# The Windows build against the Qt for Windows that scripts/build-qt-windows.sh installs: Qt's
# own qt.toolchain.cmake, chain-loading the project's mingw-w64 toolchain for the architecture the
# including file sets in PONDERIX_MINGW_ARCH; and the RapidCheck for Windows that
# scripts/build-rapidcheck-windows.sh installs, for find_package(rapidcheck). Each folder is
# PONDERIX_WINDOWS_QT or PONDERIX_WINDOWS_RAPIDCHECK when given, else the one its script names for
# this machine's package version and its build options.

# Sets var to the folder the script names for this architecture, asked once per configure (the
# compiler checks read this file again); fails when the install there is not complete.
function(ponderix_windows_cache_folder var script what)
  if(${var})
    return()
  endif()
  set(remembered _${var}_${PONDERIX_MINGW_ARCH})
  if(DEFINED ENV{${remembered}})
    set(${var} "$ENV{${remembered}}" PARENT_SCOPE)
    return()
  endif()
  execute_process(
    COMMAND ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/../scripts/${script} ${PONDERIX_MINGW_ARCH} --prefix
    OUTPUT_VARIABLE folder
    RESULT_VARIABLE installed
    OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT installed EQUAL 0)
    message(FATAL_ERROR "No ${what} for Windows (${PONDERIX_MINGW_ARCH}) in ${folder}: "
                        "run scripts/${script} ${PONDERIX_MINGW_ARCH} first")
  endif()
  set(ENV{${remembered}} "${folder}")
  set(${var} "${folder}" PARENT_SCOPE)
endfunction()

ponderix_windows_cache_folder(PONDERIX_WINDOWS_QT build-qt-windows.sh Qt)
if(NOT EXISTS "${PONDERIX_WINDOWS_QT}/lib/cmake/Qt6/qt.toolchain.cmake")
  message(FATAL_ERROR "${PONDERIX_WINDOWS_QT} holds no Qt 6 for Windows")
endif()
ponderix_windows_cache_folder(PONDERIX_WINDOWS_RAPIDCHECK build-rapidcheck-windows.sh RapidCheck)

set(QT_CHAINLOAD_TOOLCHAIN_FILE ${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw${PONDERIX_MINGW_BITS}.cmake)
include(${PONDERIX_WINDOWS_QT}/lib/cmake/Qt6/qt.toolchain.cmake)
# Packages are looked up only below the find root (the compiler's own folder, Qt's): RapidCheck's
# folder is one more, where its package file lies in share/rapidcheck/cmake.
list(PREPEND CMAKE_FIND_ROOT_PATH "${PONDERIX_WINDOWS_RAPIDCHECK}")
