# Cross build for Windows with Debian's MinGW-w64 compilers; included by the
# toolchain files, which set ZR_MINGW_PREFIX and ZR_MINGW_ARCH. The
# POSIX-thread variant of the compiler provides std::thread. The runtime
# libraries are linked statically, so the programs need no DLL beside
# zr32ut.dll.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${ZR_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZR_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${ZR_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ZR_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

# The tests run the programs under Wine, in a prefix of the build folder.
set(CMAKE_CROSSCOMPILING_EMULATOR
    ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh ${ZR_MINGW_ARCH} ${CMAKE_BINARY_DIR}/wineprefix)
