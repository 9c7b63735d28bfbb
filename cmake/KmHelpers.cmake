# km_test(<name> SOURCES <files...> [LIBS <libs...>])
#   One GoogleTest executable, registered as one ctest test. Under the win32 tree it runs
#   through the Wine wrapper, so Wine starts once per executable rather than per case.
function(km_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main)
  add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
  set_tests_properties(${name} PROPERTIES LABELS "unit")
endfunction()

# km_fuzz(<name> SOURCES <files...> [LIBS <libs...>] CORPUS <dir>)
#   A libFuzzer target (host tree only). The test replays the committed corpus once;
#   `make fuzz` runs every target for a longer while.
function(km_fuzz name)
  cmake_parse_arguments(ARG "" "CORPUS" "SOURCES;LIBS" ${ARGN})
  if(NOT KM_HOST OR NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    return()
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  add_test(NAME ${name}_corpus COMMAND ${name} -runs=0 ${ARG_CORPUS})
  set_tests_properties(${name}_corpus PROPERTIES LABELS "fuzz")
  set_property(GLOBAL APPEND PROPERTY KM_FUZZ_TARGETS "${name} ${ARG_CORPUS}")
endfunction()
