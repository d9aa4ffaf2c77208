# Builds the 32-bit (i386) driver library, platform layer, emulator, torvactl and their tests on a
# 64-bit Debian machine with gcc -m32 and the i386 multiarch libraries (scripts/setup.sh installs
# them). Use with a fresh build directory:
#   cmake -S . -B build-i386 --toolchain cmake/toolchain-i386.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT -m32)
set(CMAKE_CXX_FLAGS_INIT -m32)
set(CMAKE_EXE_LINKER_FLAGS_INIT -m32)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -m32)
set(CMAKE_MODULE_LINKER_FLAGS_INIT -m32)

# Libraries, packages and CMake package files come from the i386 multiarch folders only.
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH /)
set(CMAKE_IGNORE_PATH /usr/lib/x86_64-linux-gnu /usr/lib/x86_64-linux-gnu/cmake)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/i386-linux-gnu/pkgconfig:/usr/share/pkgconfig)

# Boost.Program_options is installed as the i386 runtime library alone (see scripts/setup.sh):
# the headers are the architecture-independent 64-bit ones, and the library is named here.
set(Boost_NO_BOOST_CMAKE ON)
set(Boost_INCLUDE_DIR /usr/include CACHE PATH "Boost headers")
set(Boost_PROGRAM_OPTIONS_LIBRARY_RELEASE
    /usr/lib/i386-linux-gnu/libboost_program_options.so.1.74.0 CACHE FILEPATH
    "i386 Boost.Program_options")

# The 32-bit build is the driver library and what it needs, without the plugin and the host.
set(TORVA_DRIVER_ONLY ON CACHE BOOL "Build only the driver library, its tools and their tests")
