# What the mingw-w64 toolchain files share; they set CMAKE_SYSTEM_PROCESSOR and
# KM_MINGW_PREFIX (the target triplet) first.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER   ${KM_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KM_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER  ${KM_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KM_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Fully static: the executables may import nothing but the system's own DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
