# Cross build for Windows with MinGW-w64 (POSIX thread model, so that
# std::thread and std::mutex exist). Included by the toolchain file of each
# architecture, which sets _qv_triple and CMAKE_SYSTEM_PROCESSOR first.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER   ${_qv_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_qv_triple}-g++-posix)
set(CMAKE_RC_COMPILER  ${_qv_triple}-windres)
set(CMAKE_AR           /usr/bin/${_qv_triple}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB       /usr/bin/${_qv_triple}-ranlib CACHE FILEPATH "")
# The binary tools of the same architecture (import-table checks, the
# delay-import library of DuiLib.dll).
set(QV_OBJDUMP         /usr/bin/${_qv_triple}-objdump CACHE FILEPATH "")
set(QV_DLLTOOL         /usr/bin/${_qv_triple}-dlltool CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${_qv_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs and build-time tools run through Wine (scripts/wine-run picks
# the Wine of the build's architecture).
get_filename_component(_qv_root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR "${_qv_root}/scripts/wine-run")
