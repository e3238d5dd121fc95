# Cross build for 64-bit Windows with MinGW-w64 (Debian's g++-mingw-w64-x86-64), tests run
# under wine:
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

# The posix threads variant: std::thread and std::mutex need it.
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Header-only Eigen from the host's package serves the cross build as well.
if(NOT DEFINED Eigen3_DIR AND EXISTS /usr/share/eigen3/cmake/Eigen3Config.cmake)
  set(Eigen3_DIR /usr/share/eigen3/cmake CACHE PATH "Eigen's package files")
endif()

# Each program runs on a bare Windows machine: the C++ and threads runtimes linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# The programs and tests run under wine (replaced by a wrapper with its own prefix in the
# build folder, see cmake/windows.cmake).
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
