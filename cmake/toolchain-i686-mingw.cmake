# Cross build for 32-bit Windows with the mingw-w64 i686 toolchain (posix thread model,
# which GoogleTest needs). The launcher is linked with the win32 thread model's runtime
# (cmake/LeanLauncher.cmake).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(KM_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
