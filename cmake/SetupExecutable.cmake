# km_setup_executable(<target> OUTPUT <file> LAUNCHER <file> KMARC <file> PAYLOAD <folder>
#                     [CODEPAGE <n>] [STAND_INS <program> <time source>...] [DEPENDS <item>...])
#   A setup executable made as a vendor makes one: `kmarc embed` of LAUNCHER over
#   PAYLOAD writes OUTPUT (the target builds it). kmarc checks the payload, and a payload
#   it refuses fails the build with its message, which names the file. It names every
#   file and folder it read in a depfile, so adding, removing, renaming or changing
#   anything below the payload folder embeds again, and no file name ever passes
#   through CMake or the build rules: every name Windows allows builds.
#   STAND_INS: programs that go into SETUPBASE where the payload's unpacked folders have
#   none (kmarc embed --add-missing), each followed by the file whose time its archive
#   entry carries (its source), so that the setup's bytes do not depend on when or where
#   the tree was built. The copies that carry those times are made by the embedding
#   command itself: as outputs of a rule of their own, older than what they are made
#   from, Ninja would take them for out of date.
#   The directory that calls this sets policy CMP0116 to OLD: the depfile names OUTPUT
#   relative to the top of the build tree, as Ninja knows it, and is read as kmarc wrote
#   it (CMake's own rewriting would take a name with ';' for two names).
function(km_setup_executable target)
  cmake_parse_arguments(ARG "" "OUTPUT;LAUNCHER;KMARC;PAYLOAD;CODEPAGE" "STAND_INS;DEPENDS" ${ARGN})
  get_filename_component(output "${ARG_OUTPUT}" ABSOLUTE BASE_DIR "${CMAKE_BINARY_DIR}")
  file(RELATIVE_PATH output_in_tree "${CMAKE_BINARY_DIR}" "${output}")
  set(depfile ${CMAKE_CURRENT_BINARY_DIR}/${target}.d)
  set(copies ${CMAKE_CURRENT_BINARY_DIR}/${target}-stand-ins)
  set(options --quiet)
  if(ARG_CODEPAGE)
    list(APPEND options --codepage ${ARG_CODEPAGE})
  endif()
  set(commands)
  set(depends ${ARG_LAUNCHER} ${ARG_KMARC} ${ARG_DEPENDS})
  set(stand_ins ${ARG_STAND_INS})
  while(stand_ins)
    list(POP_FRONT stand_ins program source)
    get_filename_component(name "${program}" NAME)
    list(APPEND commands
      COMMAND ${CMAKE_COMMAND} -E make_directory ${copies}
      COMMAND ${CMAKE_COMMAND} -E copy ${program} ${copies}/${name}
      COMMAND touch -r ${source} ${copies}/${name})
    list(APPEND options --add-missing ${copies}/${name})
    list(APPEND depends ${program} ${source})
  endwhile()
  add_custom_command(
    OUTPUT ${output}
    ${commands}
    COMMAND ${ARG_KMARC} embed ${options} --depfile ${depfile} ${ARG_LAUNCHER} ${ARG_PAYLOAD} -o ${output_in_tree}
    DEPFILE ${depfile}
    DEPENDS ${depends}
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
    COMMENT "Embedding the payload into ${output_in_tree}"
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS ${output})
endfunction()
