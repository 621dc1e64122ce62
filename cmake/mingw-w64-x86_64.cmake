# Cross-compiles for 64-bit Windows (see mingw-w64-common.cmake); x86-64 has SSE2 arithmetic
# already.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KELVORA_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
