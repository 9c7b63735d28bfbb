# How the launcher is compiled and linked for release, in one place (win32 tree).
#
#   km_lean_launcher(<target> [NO_DEBUG_FILE])
#                                for every executable that is the launcher or stands in
#                                for it (launcher/Launchers.cmake: the product, the bare
#                                launcher, the end-to-end copies without archives, the
#                                string class's export host); NO_DEBUG_FILE: stripped by
#                                the linker, with no .debug file and no debug link naming
#                                a file of this build
#   km_lean_launcher_code()      called once after every target exists: compile options
#                                of the libraries the launcher is made of
#   km_launcher_tree()           in the win32 tree: builds those executables in the
#                                launcher tree, under the same target names and files
#
# The launcher is downloaded, and its code is what a user waits for before the splash,
# so it is kept small where that costs no time:
#  - It is built with the toolchain's win32 thread model, whose C++ runtime and libgcc
#    take their locks and thread-local data from the system. The posix model, which
#    GoogleTest needs, links a thread library into every executable for the runtime's
#    exception handling and static initialisation (about 23 KB of code and data). A
#    tree is made with one compiler, so the launcher executables are built in a tree of
#    their own, the launcher tree, nested in the win32 tree: the same sources, options
#    and resources, from the other compiler. The launcher uses no threads of the C++
#    library (the win32 model of GCC 12 has none).
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
if(NOT KM_WIN32 OR KM_KMARC_TREE)
  function(km_lean_launcher)
  endfunction()
  function(km_lean_launcher_code)
  endfunction()
  function(km_launcher_tree)
  endfunction()
  return()
endif()

# What the launcher tree makes, as the win32 tree's tests and scripts find it.
set(KM_LAUNCHER_TARGETS ZIZeduz ZIZeduz_bare e2e_launcher e2e_launcher_unelevated abi_host)
set(KM_LAUNCHER_EXE ${CMAKE_BINARY_DIR}/bin/ZIZeduz.exe)
set(KM_BARE_LAUNCHER_EXE ${CMAKE_BINARY_DIR}/bare/ZIZeduz.exe)
set(KM_ABI_HOST_EXE ${CMAKE_BINARY_DIR}/abi/ZIZeduz.exe)

find_program(KM_MINGW_OBJCOPY NAMES ${KM_MINGW_PREFIX}-objcopy REQUIRED)

set(KM_LEAN_COMPILE_OPTIONS -Os -ffunction-sections -fdata-sections)
set(KM_LEAN_LINK_OPTIONS
  -Wl,--gc-sections
  -Wl,-T,${CMAKE_CURRENT_LIST_DIR}/DelayImportSections.ld
  -Wl,--file-alignment=4096)
# Every library whose code ends up in the launcher.
set(KM_LEAN_LIBRARIES kmlauncher kmlaunchstate wtsplash wtdib wtextract wtarchive wtstream wtstring
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

# The launcher tree is configured and built by the win32 tree's build: configured once
# (CMake configures it again when its own files change), built on every build, where
# Ninja finds quickly that nothing is to do. Its build writes the executables straight
# into the win32 tree's folders; the targets of the same names here build it. It takes
# the compiled resources from here, so the payload is packed once, and relinks when they
# change.
function(km_launcher_tree)
  include(ExternalProject)
  set(tree ${CMAKE_BINARY_DIR}/launcher-tree)
  set(files)
  foreach(exe ${KM_LAUNCHER_EXE} ${KM_ABI_HOST_EXE} ${CMAKE_BINARY_DIR}/bin/e2e_launcher.exe
              ${CMAKE_BINARY_DIR}/bin/e2e_launcher_unelevated.exe)
    list(APPEND files ${exe} ${exe}.debug)
  endforeach()
  list(APPEND files ${KM_BARE_LAUNCHER_EXE})
  cmake_host_system_information(RESULT cores QUERY NUMBER_OF_LOGICAL_CORES)
  ExternalProject_Add(launcher_tree
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${tree}
    CMAKE_ARGS
      -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/toolchain-i686-mingw-win32.cmake
      -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
      -DKM_LAUNCHER_TREE=ON
      -DKM_LAUNCHER_OUTPUT_DIR=${CMAKE_BINARY_DIR}
      -DKM_LAUNCHER_RESOURCES=$<TARGET_OBJECTS:kmresources>
      -DKM_LAUNCHER_RESOURCES_BARE=$<TARGET_OBJECTS:kmresources_bare>
    BUILD_COMMAND ${CMAKE_COMMAND} --build ${tree} --parallel ${cores} --target ${KM_LAUNCHER_TARGETS}
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON
    BUILD_BYPRODUCTS ${files}
    LOG_CONFIGURE ON
    LOG_OUTPUT_ON_FAILURE ON
  )
  # Only its build waits for the resources; it is configured meanwhile.
  ExternalProject_Add_StepDependencies(launcher_tree build kmresources kmresources_bare)
  foreach(target IN LISTS KM_LAUNCHER_TARGETS)
    add_custom_target(${target} ALL)
    add_dependencies(${target} launcher_tree)
  endforeach()
endfunction()
