# Cross-building for 64-bit Windows with Debian's mingw-w64 (the posix thread model, which
# std::thread and std::mutex need). Programs are linked statically, so they run without DLLs
# beside them; scripts/test --windows runs them under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VG_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VG_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VG_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${VG_MINGW}-windres)
# Debian's mingw-w64 root, and VG_MINGW_PREFIX: the libraries scripts/test --windows builds from
# Debian's sources (libpng, libjpeg-turbo, GoogleTest).
set(CMAKE_FIND_ROOT_PATH /usr/${VG_MINGW} ${VG_MINGW_PREFIX})
if(VG_MINGW_PREFIX)
  list(APPEND CMAKE_PREFIX_PATH ${VG_MINGW_PREFIX})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Static zlib (Debian's package has both forms).
set(ZLIB_USE_STATIC_LIBS ON)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
find_program(VG_WINE NAMES wine wine64)
if(VG_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VG_WINE})
endif()
