# 32-bit Windows with mingw-w64 (see mingw.cmake).
set(VELLIX_MINGW_ARCH x86)
set(VELLIX_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
