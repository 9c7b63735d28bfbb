# The launcher's compile and link options, in one place (win32 tree).
#
#   km_launcher_executable(<target> <source>... [EXPORTS] [CONSOLE]
#                          [OUTPUT_DIR <dir>] [OUTPUT_NAME <name>])
#       an executable that is the launcher or stands in for it (the launcher without a
#       payload in launcher/, the unelevated copy in tests/e2e/, the string class's
#       export host in tests/abi/): linked with the options below, stripped by the
#       linker, with its link map in <file>.map beside it. EXPORTS: exports the string
#       class as the launcher does. CONSOLE: a console program rather than a GUI one.
#   km_launcher_code()
#       called once after every target exists: compiles the libraries the launcher is
#       made of (KM_LAUNCHER_LIBRARIES) with the launcher's compile options.
#
# The launcher is downloaded, and its code is what a user waits for before the splash,
# so it is kept small where that costs no time:
#  - It is linked with the toolchain's win32 thread model, whose C++ runtime and libgcc
#    take their locks and thread-local data from the system. The posix model, which
#    GoogleTest needs and the tree is compiled with, links a thread library into every
#    executable for the runtime's exception handling and static initialisation (about
#    23 KB of code and data). -B points the posix compiler's link at the win32 model's
#    runtime: the result is byte for byte what the win32 compiler links. That is sound
#    because the two models' headers differ only in threading, which the launcher's
#    code does not use (tests/imports checks that no thread library is linked in).
#  - The code of the libraries below is built for size (-Os: the extraction's time goes
#    into system calls and into zlib, which is built apart; bench/README.md has the
#    measurement) and in one section per function and object, so that the linker drops
#    what nothing calls. Their tests link the same objects.
#  - --gc-sections, with cmake/DelayImportSections.ld keeping the delay-load tables.
#  - The system DLLs it calls (KM_DELAYED_DLLS) are loaded at the first call rather than
#    at start (cmake/DelayImports.cmake makes their import libraries), so that the DLLs
#    those import in turn are looked for only after WinMain has restricted the search
#    (Wine, for one, resolves them from the program's folder first).
#  - launcher/TerseTerminate.cpp replaces the C++ runtime's verbose terminate handler,
#    which would link a name demangler and a printf engine.
#  - Sections are aligned to 4 KiB in the file as in memory, so the loader can map the
#    image page by page instead of reading it whole: the payload rides in the resource
#    section, and a launcher only touches the pages of its resources that it reads.
#  - Stripped by the linker, with no debug link naming a file of this build, so that the
#    same sources give the same bytes in any folder. The link map (<file>.map) says what
#    went in, and from which library.
# Everything every Windows executable gets (static runtime, no time stamp, no build
# paths) is set in the top-level CMakeLists.txt and cmake/toolchain-mingw-common.cmake.
if(NOT KM_WIN32 OR KM_KMARC_TREE)
  function(km_launcher_executable)
  endfunction()
  function(km_launcher_code)
  endfunction()
  return()
endif()

# The product and the launcher without a payload (launcher/), as the tests and scripts
# find them.
set(KM_LAUNCHER_EXE ${CMAKE_BINARY_DIR}/bin/ZIZeduz.exe)
set(KM_BARE_LAUNCHER_EXE ${CMAKE_BINARY_DIR}/bare/ZIZeduz.exe)

# Every library whose code ends up in the launcher.
set(KM_LAUNCHER_LIBRARIES kmlauncher kmlaunchstate kmsplash kmdib kmextract kmarchive kmstream kmstring
    kmstring_exports kmplatform)
set(KM_LAUNCHER_COMPILE_OPTIONS -Os -ffunction-sections -fdata-sections)

execute_process(COMMAND ${KM_MINGW_PREFIX}-gcc-win32 -print-libgcc-file-name
                OUTPUT_VARIABLE km_win32_libgcc OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE km_result)
if(NOT km_result EQUAL 0 OR NOT EXISTS "${km_win32_libgcc}")
  message(FATAL_ERROR "${KM_MINGW_PREFIX}-gcc-win32 (Debian's g++-mingw-w64-i686-win32) is needed for the launcher")
endif()
get_filename_component(km_win32_runtime ${km_win32_libgcc} DIRECTORY)

set(KM_DELAYED_DLLS user32 gdi32 shell32 advapi32)
set(km_delay_lib_dir ${CMAKE_BINARY_DIR}/delay-imports)
find_program(KM_MINGW_NM NAMES ${KM_MINGW_PREFIX}-nm REQUIRED)
find_program(KM_MINGW_DLLTOOL NAMES ${KM_MINGW_PREFIX}-dlltool REQUIRED)
find_program(KM_MINGW_OBJCOPY NAMES ${KM_MINGW_PREFIX}-objcopy REQUIRED)
execute_process(
  COMMAND ${CMAKE_COMMAND} -DNM=${KM_MINGW_NM} -DDLLTOOL=${KM_MINGW_DLLTOOL} -DOBJCOPY=${KM_MINGW_OBJCOPY}
          -DLIB_DIR=/usr/${KM_MINGW_PREFIX}/lib -DOUTPUT_DIR=${km_delay_lib_dir}
          "-DDLLS=${KM_DELAYED_DLLS}" -P ${CMAKE_CURRENT_LIST_DIR}/DelayImports.cmake
  RESULT_VARIABLE km_result)
if(NOT km_result EQUAL 0)
  message(FATAL_ERROR "could not make the delay-load import libraries")
endif()

set(KM_LAUNCHER_LINK_OPTIONS
  -B${km_win32_runtime}/
  -Wl,--gc-sections
  -Wl,-T,${CMAKE_CURRENT_LIST_DIR}/DelayImportSections.ld
  -Wl,--file-alignment=4096)
set(KM_LAUNCHER_LINK_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/DelayImportSections.ld)
foreach(dll IN LISTS KM_DELAYED_DLLS)
  list(APPEND KM_LAUNCHER_LINK_DEPENDS ${km_delay_lib_dir}/lib${dll}.a)
endforeach()

function(km_launcher_executable target)
  cmake_parse_arguments(ARG "EXPORTS;CONSOLE" "OUTPUT_DIR;OUTPUT_NAME" "" ${ARGN})
  if(ARG_CONSOLE)
    add_executable(${target} ${ARG_UNPARSED_ARGUMENTS})
  else()
    add_executable(${target} WIN32 ${ARG_UNPARSED_ARGUMENTS})
  endif()
  target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/launcher/TerseTerminate.cpp)
  target_compile_options(${target} PRIVATE ${KM_LAUNCHER_COMPILE_OPTIONS})
  # The delay-load import libraries are searched before the toolchain's.
  target_link_directories(${target} BEFORE PRIVATE ${km_delay_lib_dir})
  target_link_options(${target} PRIVATE ${KM_LAUNCHER_LINK_OPTIONS})
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${KM_LAUNCHER_LINK_DEPENDS})
  if(ARG_EXPORTS)
    km_export_wtstring(${target})
  endif()
  if(ARG_OUTPUT_DIR)
    set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${ARG_OUTPUT_DIR})
  endif()
  if(ARG_OUTPUT_NAME)
    set_target_properties(${target} PROPERTIES OUTPUT_NAME ${ARG_OUTPUT_NAME})
  endif()
  target_link_options(${target} PRIVATE -s -Wl,-Map=$<TARGET_FILE:${target}>.map)
endfunction()

function(km_launcher_code)
  foreach(library IN LISTS KM_LAUNCHER_LIBRARIES)
    get_target_property(type ${library} TYPE)
    if(NOT type STREQUAL "INTERFACE_LIBRARY")
      target_compile_options(${library} PRIVATE ${KM_LAUNCHER_COMPILE_OPTIONS})
    endif()
  endforeach()
endfunction()
