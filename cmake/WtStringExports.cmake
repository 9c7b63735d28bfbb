# Exporting WtString from an executable under the names the Microsoft compiler gives its
# declarations (win32 tree). See string/exports/wtstring_exports.py for how the names
# are derived.
#
#   km_export_wtstring(<target>)   links the adapters, the module-definition file and
#                                  every exported member into <target>
#
# Also defines KM_WTSTRING_EXPORT_DEF, KM_WTSTRING_CLIENT_DEF and KM_WTSTRING_MSVC_NAMES.
if(NOT KM_WIN32)
  return()
endif()

find_package(Python3 REQUIRED COMPONENTS Interpreter)
find_program(KM_CLANG NAMES clang-14 clang REQUIRED)
find_program(KM_LLVM_OBJDUMP NAMES llvm-objdump-14 llvm-objdump REQUIRED)

set(km_exports_src ${CMAKE_SOURCE_DIR}/string/exports)
set(km_exports_dir ${CMAKE_BINARY_DIR}/wtstring-exports)
set(km_exports_script ${km_exports_src}/wtstring_exports.py)
set(km_exports_table ${km_exports_src}/WtString.exports)
set(km_exports_headers ${CMAKE_SOURCE_DIR}/string/WtString.h ${CMAKE_SOURCE_DIR}/platform/wtwin.h)
file(MAKE_DIRECTORY ${km_exports_dir})

set(KM_WTSTRING_EXPORT_DEF ${km_exports_dir}/ZIZeduz.def CACHE INTERNAL "")
set(KM_WTSTRING_CLIENT_DEF ${km_exports_dir}/ZIZeduz-client.def CACHE INTERNAL "")
set(KM_WTSTRING_MSVC_NAMES ${km_exports_dir}/msvc-names.txt CACHE INTERNAL "")
set(KM_WTSTRING_UNDEFS ${km_exports_dir}/exported-members.rsp CACHE INTERNAL "")
set(km_undefs ${KM_WTSTRING_UNDEFS})

add_custom_command(
  OUTPUT ${km_exports_dir}/probe.cpp ${km_exports_dir}/adapters.cpp
  COMMAND ${Python3_EXECUTABLE} ${km_exports_script} probe ${km_exports_dir}/probe.cpp
  COMMAND ${Python3_EXECUTABLE} ${km_exports_script} adapters ${km_exports_dir}/adapters.cpp
  DEPENDS ${km_exports_script} ${km_exports_table}
  COMMENT "Generating the WtString export probe and adapters")

add_custom_command(
  OUTPUT ${KM_WTSTRING_MSVC_NAMES}
  COMMAND ${KM_CLANG} --target=i686-pc-windows-msvc -fms-extensions -fno-exceptions -fno-rtti
          -nostdinc++ -isystem ${km_exports_src}/msvc-include -I${CMAKE_SOURCE_DIR} -O0
          -c ${km_exports_dir}/probe.cpp -o ${km_exports_dir}/probe-msvc.obj
  COMMAND ${Python3_EXECUTABLE} ${km_exports_script} names ${KM_LLVM_OBJDUMP}
          ${km_exports_dir}/probe-msvc.obj ${KM_WTSTRING_MSVC_NAMES}
  DEPENDS ${km_exports_dir}/probe.cpp ${km_exports_headers} ${km_exports_script}
          ${km_exports_src}/msvc-include/windows.h
  COMMENT "Decorating the WtString declarations for the MSVC target")

add_custom_command(
  OUTPUT ${km_exports_dir}/gcc-names.txt
  COMMAND ${CMAKE_CXX_COMPILER} -std=c++17 -fno-exceptions -O0 -DWIN32_LEAN_AND_MEAN -DNOMINMAX
          -I${CMAKE_SOURCE_DIR} -c ${km_exports_dir}/probe.cpp -o ${km_exports_dir}/probe-gcc.o
  COMMAND ${Python3_EXECUTABLE} ${km_exports_script} names ${KM_LLVM_OBJDUMP}
          ${km_exports_dir}/probe-gcc.o ${km_exports_dir}/gcc-names.txt
  DEPENDS ${km_exports_dir}/probe.cpp ${km_exports_headers} ${km_exports_script}
  COMMENT "Finding our own symbols for the WtString declarations")

add_custom_command(
  OUTPUT ${KM_WTSTRING_EXPORT_DEF} ${KM_WTSTRING_CLIENT_DEF} ${km_undefs}
  COMMAND ${Python3_EXECUTABLE} ${km_exports_script} def ${KM_WTSTRING_MSVC_NAMES}
          ${km_exports_dir}/gcc-names.txt ${KM_WTSTRING_EXPORT_DEF} ${KM_WTSTRING_CLIENT_DEF}
          ${km_undefs}
  DEPENDS ${KM_WTSTRING_MSVC_NAMES} ${km_exports_dir}/gcc-names.txt ${km_exports_script}
  COMMENT "Writing the module-definition file of the WtString exports")
add_custom_target(wtstring_export_def DEPENDS ${KM_WTSTRING_EXPORT_DEF} ${km_undefs})

add_library(kmstring_exports STATIC ${km_exports_dir}/adapters.cpp
            ${km_exports_src}/FormatMessageExport.cpp)
target_link_libraries(kmstring_exports PUBLIC kmstring)

function(km_export_wtstring target)
  add_dependencies(${target} wtstring_export_def)
  target_link_libraries(${target} PRIVATE kmstring_exports kmstring)
  # Adapters are referenced only from the def file, so they are pulled in by name too.
  target_link_options(${target} PRIVATE ${KM_WTSTRING_EXPORT_DEF} "@${KM_WTSTRING_UNDEFS}"
                      -Wl,--whole-archive $<TARGET_FILE:kmstring_exports> -Wl,--no-whole-archive)
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${KM_WTSTRING_EXPORT_DEF} ${KM_WTSTRING_UNDEFS})
endfunction()
