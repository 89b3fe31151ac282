# Prints the settings that toolchain-mingw-common.cmake makes for one architecture, as the text of
# a toolchain file (one setting a line, each ending in a newline): the toolchain
# scripts/build-qt-windows.sh builds Qt with, and the part of its cache key that names it. A
# compiler is named as the common file looks for it, whether or not this machine has it.
#
#   cmake -DPONDERIX_MINGW_ARCH=x86_64|i686 -P cmake/MingwToolchainText.cmake
cmake_minimum_required(VERSION 3.25)

function(find_program var)
  cmake_parse_arguments(ARG "REQUIRED" "" "NAMES" ${ARGN})
  list(GET ARG_NAMES 0 name)
  set(${var} ${name} PARENT_SCOPE)
endfunction()

include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
set(text "")
foreach(setting CMAKE_SYSTEM_NAME CMAKE_SYSTEM_PROCESSOR CMAKE_C_COMPILER CMAKE_CXX_COMPILER CMAKE_RC_COMPILER
                CMAKE_FIND_ROOT_PATH CMAKE_FIND_ROOT_PATH_MODE_PROGRAM CMAKE_FIND_ROOT_PATH_MODE_LIBRARY
                CMAKE_FIND_ROOT_PATH_MODE_INCLUDE CMAKE_FIND_ROOT_PATH_MODE_PACKAGE)
  string(APPEND text "set(${setting} ${${setting}})\n")
endforeach()
file(WRITE /dev/stdout "${text}") # standard error keeps whatever CMake itself may say
