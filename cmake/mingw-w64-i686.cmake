# Cross-compiles for 32-bit Windows (see mingw-w64-common.cmake).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(KELVORA_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)

# SSE2 arithmetic instead of the x87 unit's 80-bit intermediates, so that money converted between
# text, doubles and currency rounds exactly as on 64-bit Linux (every Windows that runs this has
# SSE2).
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
