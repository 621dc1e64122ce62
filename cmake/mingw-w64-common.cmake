# What both Windows toolchains share: Debian's MinGW-w64 (POSIX threads flavour) for the target
# triple the including file names, programs linked statically so they need nothing beside them,
# and CTest running them under Wine.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${KELVORA_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KELVORA_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KELVORA_MINGW_TRIPLE}-windres)

# The cross-built OpenSSL and libcurl (scripts/build-windows.sh exports where they are).
set(CMAKE_FIND_ROOT_PATH /usr/${KELVORA_MINGW_TRIPLE} $ENV{KELVORA_WINDOWS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
# The Wine loader of the build's architecture (scripts/build-windows.sh chooses it).
if(DEFINED ENV{KELVORA_WINE})
  set(CMAKE_CROSSCOMPILING_EMULATOR $ENV{KELVORA_WINE})
else()
  set(CMAKE_CROSSCOMPILING_EMULATOR wine)
endif()
