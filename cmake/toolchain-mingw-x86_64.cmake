# Cross build for 64-bit Windows (the same sources, tested where 32-bit code
# cannot run).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(_qv_triple x86_64-w64-mingw32)
include("${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake")
