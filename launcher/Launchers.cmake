# Every executable that is the launcher or stands in for it, built in the launcher tree
# (cmake/LeanLauncher.cmake) into the folders of the win32 tree around it
# (KM_LAUNCHER_OUTPUT_DIR), with that tree's compiled resources: KM_LAUNCHER_RESOURCES
# with the payload's archives, KM_LAUNCHER_RESOURCES_BARE without them. The win32 tree's
# tests and scripts find them where they always were.
set(km_out ${KM_LAUNCHER_OUTPUT_DIR})
foreach(resources IN ITEMS KM_LAUNCHER_RESOURCES KM_LAUNCHER_RESOURCES_BARE)
  if(NOT ${resources} MATCHES "\\.(res|obj)$")
    message(FATAL_ERROR "${resources} names no compiled resource script: '${${resources}}'")
  endif()
  # The win32 tree compiles them before it builds this tree, which may be configured
  # before that.
  set_source_files_properties(${${resources}} PROPERTIES GENERATED ON EXTERNAL_OBJECT ON)
endforeach()

# The system DLLs that the launcher and the splash call, loaded at the first call rather
# than at start. The system takes them from its own folder either way; what matters is
# that the DLLs they import in turn are looked for only after WinMain has restricted the
# search (Wine, for one, resolves those from the program's folder first).
set(km_delayed_dlls user32 gdi32 shell32 advapi32)
set(km_delay_lib_dir ${CMAKE_BINARY_DIR}/delay-imports)
find_program(KM_MINGW_NM NAMES ${KM_MINGW_PREFIX}-nm REQUIRED)
find_program(KM_MINGW_DLLTOOL NAMES ${KM_MINGW_PREFIX}-dlltool REQUIRED)
find_program(KM_MINGW_OBJCOPY NAMES ${KM_MINGW_PREFIX}-objcopy REQUIRED)
execute_process(
  COMMAND ${CMAKE_COMMAND} -DNM=${KM_MINGW_NM} -DDLLTOOL=${KM_MINGW_DLLTOOL} -DOBJCOPY=${KM_MINGW_OBJCOPY}
          -DLIB_DIR=/usr/${KM_MINGW_PREFIX}/lib -DOUTPUT_DIR=${km_delay_lib_dir}
          "-DDLLS=${km_delayed_dlls}" -P ${CMAKE_CURRENT_SOURCE_DIR}/DelayImports.cmake
  RESULT_VARIABLE delay_result)
if(NOT delay_result EQUAL 0)
  message(FATAL_ERROR "could not make the delay-load import libraries")
endif()

set_property(GLOBAL PROPERTY KM_DELAY_LIBRARIES)
foreach(dll IN LISTS km_delayed_dlls)
  set_property(GLOBAL APPEND PROPERTY KM_DELAY_LIBRARIES ${km_delay_lib_dir}/lib${dll}.a)
endforeach()

# km_delay_system_imports(<target>): links target's system DLLs (those above) for
# loading at the first call. Every launcher executable needs it.
function(km_delay_system_imports target)
  get_property(libraries GLOBAL PROPERTY KM_DELAY_LIBRARIES)
  list(GET libraries 0 first)
  get_filename_component(folder ${first} DIRECTORY)
  target_link_directories(${target} BEFORE PRIVATE ${folder})
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${libraries})
endfunction()

# The product: the launcher with the payload of KM_PAYLOAD_DIR (see resources/), which
# exports its string class by name.
add_executable(ZIZeduz WIN32 WinMain.cpp ${KM_LAUNCHER_RESOURCES})
target_link_libraries(ZIZeduz PRIVATE kmlauncher)
km_delay_system_imports(ZIZeduz)
km_export_wtstring(ZIZeduz)
km_lean_launcher(ZIZeduz)
set_target_properties(ZIZeduz PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${km_out}/bin)

# The same launcher without a payload, for packagers who add theirs with `kmarc embed`:
# every resource of the product but the archives, the product's lean code and link
# options. The linker strips it and writes no time stamp, and no debug link names a
# file of this build, so that the same sources give the same bytes in any folder. The
# module keeps the product's file name, which its export table names.
add_executable(ZIZeduz_bare WIN32 WinMain.cpp ${KM_LAUNCHER_RESOURCES_BARE})
target_link_libraries(ZIZeduz_bare PRIVATE kmlauncher)
km_delay_system_imports(ZIZeduz_bare)
km_export_wtstring(ZIZeduz_bare)
km_lean_launcher(ZIZeduz_bare NO_DEBUG_FILE)
set_target_properties(ZIZeduz_bare PROPERTIES
  OUTPUT_NAME ZIZeduz
  RUNTIME_OUTPUT_DIRECTORY ${km_out}/bare)


# For the end-to-end tests: the launcher without archives, to which each test adds the
# archives it needs in a copy.
add_executable(e2e_launcher WIN32 WinMain.cpp ${KM_LAUNCHER_RESOURCES_BARE})
target_link_libraries(e2e_launcher PRIVATE kmlauncher)
km_delay_system_imports(e2e_launcher)
km_lean_launcher(e2e_launcher)
# The same for a run without elevation, which Wine cannot give.
add_executable(e2e_launcher_unelevated WIN32 ${PROJECT_SOURCE_DIR}/tests/e2e/UnelevatedWinMain.cpp
               ${KM_LAUNCHER_RESOURCES_BARE})
target_link_libraries(e2e_launcher_unelevated PRIVATE kmlauncher)
km_delay_system_imports(e2e_launcher_unelevated)
km_lean_launcher(e2e_launcher_unelevated)
set_target_properties(e2e_launcher e2e_launcher_unelevated PROPERTIES
  RUNTIME_OUTPUT_DIRECTORY ${km_out}/bin)

# For the tests of the exported string interface (tests/abi): a module named ZIZeduz.exe
# that exports the class as the launcher does, from the same runtime.
add_executable(abi_host ${PROJECT_SOURCE_DIR}/tests/abi/abi_host.cpp)
km_export_wtstring(abi_host)
km_lean_launcher(abi_host)
set_target_properties(abi_host PROPERTIES OUTPUT_NAME ZIZeduz RUNTIME_OUTPUT_DIRECTORY ${km_out}/abi)
