# libdeflate for kmarc's strongest encoder, as the target km_libdeflate.
#
# On Linux it is Debian's libdeflate-dev, linked statically so that kmarc needs no
# shared library beside it. For Windows Debian builds none, so the same version is
# compiled here from Debian's source package, which scripts/bootstrap.sh unpacks into
# .deps/libdeflate-<version> of the source tree: both kmarcs then run the same encoder
# and write the same bytes. Only the compressor's files are compiled.
if(TARGET km_libdeflate)
  return()
endif()

if(NOT CMAKE_CROSSCOMPILING)
  find_path(KM_LIBDEFLATE_INCLUDE_DIR libdeflate.h)
  find_library(KM_LIBDEFLATE_LIBRARY NAMES libdeflate.a deflate)
  if(NOT KM_LIBDEFLATE_INCLUDE_DIR OR NOT KM_LIBDEFLATE_LIBRARY)
    message(FATAL_ERROR "libdeflate is missing: run scripts/bootstrap.sh (Debian package libdeflate-dev)")
  endif()
  add_library(km_libdeflate INTERFACE)
  target_include_directories(km_libdeflate SYSTEM INTERFACE ${KM_LIBDEFLATE_INCLUDE_DIR})
  target_link_libraries(km_libdeflate INTERFACE ${KM_LIBDEFLATE_LIBRARY})
  return()
endif()

execute_process(COMMAND dpkg-query -W "-f=\${source:Package}-\${source:Version}" libdeflate-dev
                OUTPUT_VARIABLE km_libdeflate_package RESULT_VARIABLE km_libdeflate_status ERROR_QUIET)
if(NOT km_libdeflate_status EQUAL 0)
  message(FATAL_ERROR "libdeflate-dev is not installed: run scripts/bootstrap.sh")
endif()
set(KM_LIBDEFLATE_SOURCE_DIR ${PROJECT_SOURCE_DIR}/.deps/${km_libdeflate_package} CACHE PATH
    "Debian's libdeflate sources of the installed libdeflate-dev's version (scripts/bootstrap.sh unpacks them)")
# A tree configured without `make` (cmake --preset) in a fresh checkout gets them here.
if(NOT EXISTS ${KM_LIBDEFLATE_SOURCE_DIR}/libdeflate.h)
  message(STATUS "Fetching Debian's sources of ${km_libdeflate_package} (scripts/bootstrap.sh)")
  execute_process(COMMAND ${PROJECT_SOURCE_DIR}/scripts/bootstrap.sh)
endif()
if(NOT EXISTS ${KM_LIBDEFLATE_SOURCE_DIR}/libdeflate.h)
  message(FATAL_ERROR "${KM_LIBDEFLATE_SOURCE_DIR} holds no libdeflate sources: run scripts/bootstrap.sh")
endif()

set(km_libdeflate_lib ${KM_LIBDEFLATE_SOURCE_DIR}/lib)
add_library(km_libdeflate STATIC
  ${km_libdeflate_lib}/deflate_compress.c
  ${km_libdeflate_lib}/adler32.c
  ${km_libdeflate_lib}/zlib_compress.c
  ${km_libdeflate_lib}/utils.c
  ${km_libdeflate_lib}/x86/cpu_features.c
)
target_include_directories(km_libdeflate SYSTEM PUBLIC ${KM_LIBDEFLATE_SOURCE_DIR})
# Its own flags (the library's Makefile), not the project's warnings: this is not our code.
target_compile_options(km_libdeflate PRIVATE -O2 -w -fvisibility=hidden)
set_target_properties(km_libdeflate PROPERTIES C_STANDARD 99)
