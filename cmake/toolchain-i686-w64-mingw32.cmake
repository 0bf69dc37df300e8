set(VARNOCK_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
# 32-bit programs run under Wine too: the 64-bit loader hands them to the
# 32-bit one (emulated, where the kernel cannot run them).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
