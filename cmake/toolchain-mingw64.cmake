# Cross-build for 64-bit Windows with Debian's MinGW-w64.
#
# The -posix compilers: the default win32 thread model has no std::thread nor
# std::mutex. The runtime (libgcc, libstdc++, winpthread) is linked in
# statically, so that each .exe imports only DLLs that every Windows has and
# needs nothing installed beside it. Tests run through Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VARDEL_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VARDEL_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VARDEL_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${VARDEL_MINGW_TRIPLET}-windres)
set(CMAKE_OBJDUMP ${VARDEL_MINGW_TRIPLET}-objdump CACHE FILEPATH "objdump of the target")

set(CMAKE_FIND_ROOT_PATH /usr/${VARDEL_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# ctest runs every Windows program through Wine (64-bit programs: Debian has
# no separate wine64 command).
find_program(VARDEL_WINE wine)
if(VARDEL_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VARDEL_WINE})
endif()
