# How the launcher is compiled and linked for release, in one place (win32 tree).
#
#   km_lean_launcher(<target> [NO_DEBUG_FILE])
#                                for every executable that is the launcher or stands in
#                                for it (the product, the bare launcher, the end-to-end
#                                copy without archives, the string class's export host);
#                                NO_DEBUG_FILE: stripped by the linker, with no .debug
#                                file and no debug link naming a file of this build
#   km_lean_launcher_code()      called once after every target exists: compile options
#                                of the libraries the launcher is made of
#
# The launcher is downloaded, and its code is what a user waits for before the splash,
# so it is kept small where that costs no time:
#  - The code of the libraries below is built for size (-Os: the extraction's time goes
#    into system calls and into zlib, which is built apart; bench/README.md has the
#    measurement) and in one section per function and object, so that the linker drops
#    what nothing calls.
#  - --gc-sections, with cmake/DelayImportSections.ld keeping the delay-load tables.
#  - launcher/TerseTerminate.cpp replaces the C++ runtime's verbose terminate handler,
#    which would link a name demangler and a printf engine.
#  - Sections are aligned to 4 KiB in the file as in memory, so the loader can map the
#    image page by page instead of reading it whole: the payload rides in the resource
#    section, and a launcher only touches the pages of its resources that it reads.
#  - Stripped after linking; the symbols and the runtime's debug information go into
#    <file>.debug beside it, which the executable names in a .gnu_debuglink section so
#    that a debugger finds it.
if(NOT KM_WIN32)
  function(km_lean_launcher)
  endfunction()
  function(km_lean_launcher_code)
  endfunction()
  return()
endif()

find_program(KM_MINGW_OBJCOPY NAMES ${KM_MINGW_PREFIX}-objcopy REQUIRED)

set(KM_LEAN_COMPILE_OPTIONS -Os -ffunction-sections -fdata-sections)
set(KM_LEAN_LINK_OPTIONS
  -Wl,--gc-sections
  -Wl,-T,${CMAKE_CURRENT_LIST_DIR}/DelayImportSections.ld
  -Wl,--file-alignment=4096)
# Every library whose code ends up in the launcher.
set(KM_LEAN_LIBRARIES kmlauncher kmlaunchstate wtsplash wtextract wtarchive wtstream wtstring
    wtstring_exports kmplatform)

function(km_lean_launcher target)
  cmake_parse_arguments(ARG "NO_DEBUG_FILE" "" "" ${ARGN})
  target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/launcher/TerseTerminate.cpp)
  target_compile_options(${target} PRIVATE ${KM_LEAN_COMPILE_OPTIONS})
  target_link_options(${target} PRIVATE ${KM_LEAN_LINK_OPTIONS})
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${PROJECT_SOURCE_DIR}/cmake/DelayImportSections.ld)
  if(ARG_NO_DEBUG_FILE)
    target_link_options(${target} PRIVATE -s)
    return()
  endif()
  set(image $<TARGET_FILE:${target}>)
  # objcopy stamps the PE header with the time of the copy unless SOURCE_DATE_EPOCH says
  # otherwise; 0 as the linker leaves it (-Wl,--no-insert-timestamp), so that the same
  # sources give the same bytes.
  set(objcopy ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=0 ${KM_MINGW_OBJCOPY})
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${objcopy} --only-keep-debug ${image} ${image}.debug
    COMMAND ${objcopy} --strip-all --add-gnu-debuglink=${image}.debug ${image}
    VERBATIM)
endfunction()

function(km_lean_launcher_code)
  foreach(library IN LISTS KM_LEAN_LIBRARIES)
    get_target_property(type ${library} TYPE)
    if(NOT type STREQUAL "INTERFACE_LIBRARY")
      target_compile_options(${library} PRIVATE ${KM_LEAN_COMPILE_OPTIONS})
    endif()
  endforeach()
endfunction()
