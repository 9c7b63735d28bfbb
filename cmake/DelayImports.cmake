# Makes delay-load import libraries for system DLLs (run with cmake -P):
#   -DNM=<nm> -DDLLTOOL=<dlltool> -DOBJCOPY=<objcopy> -DLIB_DIR=<toolchain lib folder>
#   -DOUTPUT_DIR=<folder> -DDLLS=user32;gdi32;...
# Each lib<name>.a in OUTPUT_DIR exports what the toolchain's import library of that name
# exports, but the DLL is loaded at the first call instead of at start. An executable
# linked against them with OUTPUT_DIR searched first loads those DLLs only after its
# entry point has restricted the DLL search, and so do the DLLs they import in turn.
cmake_policy(VERSION 3.23)

# GNU ld drops the code of import stubs whose own symbol nobody calls, and code that
# reaches a DLL through its __imp_ pointer never does; a delay-load pointer then starts
# out null. Outside the .idata sections the stubs are ordinary code and data and stay.
set(rename_sections)
foreach(part 2 4 5 6 7)
  list(APPEND rename_sections --rename-section ".idata$${part}=.didat$${part},alloc,load,data,contents")
endforeach()
file(MAKE_DIRECTORY ${OUTPUT_DIR})
foreach(dll IN LISTS DLLS)
  set(import_lib ${LIB_DIR}/lib${dll}.a)
  execute_process(COMMAND ${NM} ${import_lib} OUTPUT_VARIABLE symbols RESULT_VARIABLE nm_result ERROR_QUIET)
  if(NOT nm_result EQUAL 0)
    message(FATAL_ERROR "cannot list ${import_lib}")
  endif()
  # Function stubs show as text symbols: "_Name@bytes" for stdcall, "_Name" for cdecl.
  string(REGEX MATCHALL "[0-9a-f]+ T _[A-Za-z0-9_@]+" stubs "${symbols}")
  set(def "EXPORTS\n")
  set(seen)
  foreach(stub IN LISTS stubs)
    string(REGEX REPLACE "^[0-9a-f]+ T _" "" name "${stub}")
    if(NOT name IN_LIST seen)
      list(APPEND seen ${name})
      string(APPEND def "${name}\n")
    endif()
  endforeach()
  string(TOUPPER ${dll} upper)
  set(def_file ${OUTPUT_DIR}/${dll}.def)
  file(WRITE ${def_file} "${def}")
  # dlltool names the library's symbols after the output path it is given; a bare name
  # keeps the build folder out of the executable.
  execute_process(COMMAND ${DLLTOOL} -k -d ${dll}.def -D ${upper}.dll -y lib${dll}.a
                  WORKING_DIRECTORY ${OUTPUT_DIR}
                  RESULT_VARIABLE tool_result ERROR_VARIABLE tool_errors)
  if(NOT tool_result EQUAL 0)
    message(FATAL_ERROR "dlltool failed for ${dll}: ${tool_errors}")
  endif()
  execute_process(COMMAND ${OBJCOPY} ${rename_sections} ${OUTPUT_DIR}/lib${dll}.a
                  RESULT_VARIABLE copy_result ERROR_VARIABLE copy_errors)
  if(NOT copy_result EQUAL 0)
    message(FATAL_ERROR "objcopy failed for ${dll}: ${copy_errors}")
  endif()
endforeach()
