# Cross build for 32-bit Windows (the shipped product).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(_qv_triple i686-w64-mingw32)
include("${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake")
