# Cross-build for Windows with Debian's MinGW-w64; included by
# toolchain-mingw64.cmake (x64) and toolchain-mingw32.cmake (x86), which set
# VARDEL_MINGW_TRIPLET and CMAKE_SYSTEM_PROCESSOR first.
#
# The -posix compilers: the default win32 thread model has no std::thread nor
# std::mutex. The runtime (libgcc, libstdc++, winpthread) is linked in
# statically, so that each .exe imports only DLLs that every Windows has and
# needs nothing installed beside it. Tests run through Wine.
set(CMAKE_SYSTEM_NAME Windows)

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

# ctest runs every Windows program through Wine, started the one way the
# tests' scripts start it (scripts/wine: 32-bit programs need the wine32:i386
# package, see scripts/install-wine32).
find_program(VARDEL_WINE wine)
if(VARDEL_WINE)
  get_filename_component(_vardel_scripts "${CMAKE_CURRENT_LIST_DIR}/../scripts" ABSOLUTE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${_vardel_scripts}/wine)
endif()

# Compiles go through ccache when it is there, with one cache for every
# Windows tree of the checkout (build/ccache) and paths taken relative to
# it: the release trees of scripts/package then reuse what the test trees
# compiled, instead of compiling it all again.
find_program(VARDEL_CCACHE ccache)
if(VARDEL_CCACHE)
  get_filename_component(_vardel_source "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
  set(_vardel_launcher ${CMAKE_COMMAND} -E env CCACHE_DIR=${_vardel_source}/build/ccache
      CCACHE_BASEDIR=${_vardel_source} CCACHE_NOHASHDIR=1 ${VARDEL_CCACHE})
  set(CMAKE_C_COMPILER_LAUNCHER ${_vardel_launcher})
  set(CMAKE_CXX_COMPILER_LAUNCHER ${_vardel_launcher})
endif()
