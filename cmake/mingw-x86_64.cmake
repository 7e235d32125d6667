# 64-bit Windows: the same sources, for running under Wine where the kernel
# cannot run 32-bit programs.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(ZR_MINGW_PREFIX x86_64-w64-mingw32)
set(ZR_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
# GCC 12 takes the TEB read in the headers' NtCurrentTeb (gs:[0x30]) for an
# access outside an array; the other builds keep the warning.
set(CMAKE_CXX_FLAGS_INIT "-Wno-array-bounds")
