# Cross-build for 32-bit Windows (x86) with Debian's MinGW-w64: the programs
# run on 32-bit Windows and, under WOW64, on 64-bit Windows.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(VARDEL_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)
