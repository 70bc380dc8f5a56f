# Cross build for Windows with Debian's mingw-w64 compilers:
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
#         -DKORVAL_BUILD_GUI=OFF
# or, with KORVAL_QT_MINGW naming a Qt built for mingw in the environment,
# with the windows (-DKORVAL_BUILD_GUI=ON).
# KORVAL_MINGW_ARCH picks x86_64 (default) or i686. The -posix compilers are
# the ones whose libstdc++ has std::thread and std::mutex.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_VERSION 10)
if(NOT KORVAL_MINGW_ARCH)
  set(KORVAL_MINGW_ARCH x86_64)
endif()
set(CMAKE_SYSTEM_PROCESSOR ${KORVAL_MINGW_ARCH})
set(_triple ${KORVAL_MINGW_ARCH}-w64-mingw32)

set(CMAKE_C_COMPILER ${_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${_triple}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${_triple})
# A Qt built for mingw (scripts/windows.sh sets the variable): its packages
# are found under its prefix, its host tools (moc, rcc, uic) are the build
# machine's (QT_HOST_PATH).
if(DEFINED ENV{KORVAL_QT_MINGW} AND NOT "$ENV{KORVAL_QT_MINGW}" STREQUAL "")
  list(APPEND CMAKE_FIND_ROOT_PATH $ENV{KORVAL_QT_MINGW})
  set(CMAKE_PREFIX_PATH $ENV{KORVAL_QT_MINGW})
  set(QT_HOST_PATH /usr)
  set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake)
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The runtime (libgcc, libstdc++, winpthread) linked in, so a DLL or test
# needs nothing beside it but the system's own DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

# ctest runs the test programs under wine.
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(KORVAL_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
  if(KORVAL_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${KORVAL_WINE})
  endif()
endif()
