# Cross-compiling for 64-bit Windows with mingw-w64 (Debian's g++-mingw-w64-x86-64-posix).
# The -posix compiler variant has std::thread and std::mutex; the runtime is linked statically so
# that the programs and modules run anywhere (Wine included) without the compiler's DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(PONDERIX_MINGW_PREFIX x86_64-w64-mingw32)
find_program(CMAKE_CXX_COMPILER NAMES ${PONDERIX_MINGW_PREFIX}-g++-posix REQUIRED)
find_program(CMAKE_C_COMPILER NAMES ${PONDERIX_MINGW_PREFIX}-gcc-posix REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${PONDERIX_MINGW_PREFIX}-windres REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${PONDERIX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
