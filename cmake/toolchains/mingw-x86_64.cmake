# 64-bit Windows with mingw-w64 (see mingw.cmake).
set(VELLIX_MINGW_ARCH x86_64)
set(VELLIX_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
