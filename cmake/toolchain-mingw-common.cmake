# Cross-compiling for Windows with Debian's posix-thread mingw-w64 compilers (std::thread and
# std::mutex), for the architecture the including file sets in PONDERIX_MINGW_ARCH. The C++
# runtime is the compiler's shared one (libstdc++-6.dll and its companions), the same as Qt's
# DLLs use: one runtime in the process. The build copies those DLLs beside the programs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${PONDERIX_MINGW_ARCH})

set(PONDERIX_MINGW_PREFIX ${PONDERIX_MINGW_ARCH}-w64-mingw32)
find_program(CMAKE_CXX_COMPILER NAMES ${PONDERIX_MINGW_PREFIX}-g++-posix REQUIRED)
find_program(CMAKE_C_COMPILER NAMES ${PONDERIX_MINGW_PREFIX}-gcc-posix REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${PONDERIX_MINGW_PREFIX}-windres REQUIRED)
find_program(CMAKE_STRIP NAMES ${PONDERIX_MINGW_PREFIX}-strip)
find_program(CMAKE_OBJDUMP NAMES ${PONDERIX_MINGW_PREFIX}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${PONDERIX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
