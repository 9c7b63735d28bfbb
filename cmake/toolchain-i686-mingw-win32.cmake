# The same cross build with the toolchain's win32 thread model, for the launcher tree
# (cmake/LeanLauncher.cmake): its C++ runtime and libgcc use the system's own threading
# calls, so no thread library is linked into the launcher. GoogleTest and everything
# else keep the posix model of toolchain-i686-mingw.cmake.
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-i686-mingw.cmake)
set(CMAKE_C_COMPILER   ${KM_MINGW_PREFIX}-gcc-win32)
set(CMAKE_CXX_COMPILER ${KM_MINGW_PREFIX}-g++-win32)
