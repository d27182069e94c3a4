# Cross-building for Windows with Debian's mingw-w64 compilers. Use one of the two files that
# name the target (mingw-x86_64.cmake, mingw-i686.cmake); they set VELLIX_MINGW_TRIPLE and
# include this one.
#
# VELLIX_DEPS_ROOT is a folder of the target's own dependencies (GoogleTest, and copies of the
# header-only CLI11 and nlohmann-json, whose installed configs would otherwise put the build
# machine's /usr/include on the path); scripts/windows.sh fills it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${VELLIX_MINGW_ARCH})

# The -posix compilers: the -win32 ones have no std::mutex or std::thread.
set(CMAKE_C_COMPILER ${VELLIX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELLIX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VELLIX_MINGW_TRIPLE}-windres)

if(NOT VELLIX_DEPS_ROOT)
  set(VELLIX_DEPS_ROOT "$ENV{VELLIX_DEPS_ROOT}")
endif()
set(CMAKE_FIND_ROOT_PATH /usr/${VELLIX_MINGW_TRIPLE} ${VELLIX_DEPS_ROOT})
# Libraries, headers and packages of the target only; programs (python3, wine) of the build
# machine.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# zlib linked in, so the DLL does not need zlib1.dll beside it.
set(ZLIB_USE_STATIC_LIBS ON)
set(ZLIB_LIBRARY /usr/${VELLIX_MINGW_TRIPLE}/lib/libz.a CACHE FILEPATH "zlib for the target")
set(ZLIB_INCLUDE_DIR /usr/${VELLIX_MINGW_TRIPLE}/include CACHE PATH "zlib headers")

# The compiler's runtime (libstdc++, libgcc, winpthread) linked in as well, so the programs
# and the DLL run without the compiler's DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# Test programs run under wine.
find_program(VELLIX_WINE NAMES wine wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(VELLIX_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VELLIX_WINE})
endif()
