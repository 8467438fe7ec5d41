# Cross toolchain: 32-bit Windows (i686), the program as it ships.
set(ZELTO_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
