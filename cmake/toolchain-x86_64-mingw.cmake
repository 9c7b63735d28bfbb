# Cross build for 64-bit Windows with the mingw-w64 x86-64 toolchain (posix thread
# model, for the threads kmarc packs with). Only the kmarc tree uses it
# (KM_KMARC_TREE): the launcher stays a 32-bit program.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KM_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
