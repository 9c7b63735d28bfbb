# Cross build for 32-bit Windows with the mingw-w64 i686 toolchain (posix thread model,
# which GoogleTest needs). The launcher is linked with the win32 thread model's runtime
# (cmake/LeanLauncher.cmake).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(KM_MINGW_PREFIX i686-w64-mingw32)
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
