# Cross-builds the Windows executable with the MinGW-w64 compilers on Linux:
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# The "posix" thread variant of the compiler is used because its C++ library has
# std::mutex and std::thread; everything is linked statically, so orvanegate.exe needs
# no DLL beside it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ORVANEGATE_MINGW_PREFIX x86_64-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${ORVANEGATE_MINGW_PREFIX}-gcc-posix ${ORVANEGATE_MINGW_PREFIX}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${ORVANEGATE_MINGW_PREFIX}-g++-posix ${ORVANEGATE_MINGW_PREFIX}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${ORVANEGATE_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ORVANEGATE_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Tests of the Windows build run under wine; the launcher may be given on the command line.
if(NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(ORVANEGATE_WINE NAMES wine64 PATHS /usr/lib/wine /usr/lib64/wine NO_DEFAULT_PATH)
  find_program(ORVANEGATE_WINE NAMES wine64 wine)
  if(ORVANEGATE_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${ORVANEGATE_WINE})
  endif()
endif()
