# Cross build for 64-bit Windows with the mingw-w64 x86-64 toolchain (posix thread
# model, for the threads kmarc packs with). Only the kmarc tree uses it
# (KM_KMARC_TREE): the launcher stays a 32-bit program.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KM_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER   ${KM_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KM_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER  ${KM_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KM_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Fully static: the executable may import nothing but the system's own DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
