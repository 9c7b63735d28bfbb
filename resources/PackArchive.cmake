# Packs one payload folder into an archive with a native kmarc. Run with cmake -P:
#   KMARC     the archive tool
#   SOURCE    the payload folder
#   OUTPUT    the archive to write
#   STAGING   (optional) a scratch folder; when given, SOURCE is copied there first and
#   STAND_INS (optional) files, separated by |, added to the copy unless SOURCE has a
#             file of that name at its top level, compared without regard to case
cmake_minimum_required(VERSION 3.23)

foreach(var KMARC SOURCE OUTPUT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "PackArchive.cmake: ${var} is not set")
  endif()
endforeach()

set(folder ${SOURCE})
if(DEFINED STAGING AND NOT STAGING STREQUAL "")
  file(REMOVE_RECURSE ${STAGING})
  file(MAKE_DIRECTORY ${STAGING})
  file(COPY ${SOURCE}/ DESTINATION ${STAGING})
  file(GLOB present RELATIVE ${SOURCE} ${SOURCE}/*)
  string(TOLOWER "${present}" present)
  string(REPLACE "|" ";" STAND_INS "${STAND_INS}")
  foreach(stand_in IN LISTS STAND_INS)
    get_filename_component(name ${stand_in} NAME)
    string(TOLOWER ${name} lower)
    if(NOT lower IN_LIST present)
      file(COPY ${stand_in} DESTINATION ${STAGING})
    endif()
  endforeach()
  set(folder ${STAGING})
endif()

file(REMOVE ${OUTPUT})
execute_process(COMMAND ${KMARC} pack ${OUTPUT} ${folder} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "kmarc could not pack ${SOURCE} (exit ${result})")
endif()
