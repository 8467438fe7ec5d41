# Cross toolchain: 64-bit Windows (x86_64), for tests on machines that run
# no 32-bit code (tools/wine-arch.sh).
set(ZELTO_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
