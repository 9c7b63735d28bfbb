# Prepares the Wine prefix WINEPREFIX for extract_tests: SCRATCH, emptied first, is
# mapped as drive Q: and as the share \\kmtest\scratch, and holds a link to /dev/full
# (a file every write to fails) and a read-only file. Run with cmake -P; WINE_RUN is the
# tree's Wine wrapper. With -DRELEASE=ON it only makes the read-only file deletable
# again, so that the build tree can be removed.

set(read_only ${SCRATCH}/readonly.txt)
find_program(CHATTR chattr)
if(EXISTS ${read_only} AND CHATTR)
  execute_process(COMMAND ${CHATTR} -i ${read_only} OUTPUT_QUIET ERROR_QUIET)
endif()
if(RELEASE)
  return()
endif()

# The wrapper creates the prefix on first use; the links go into it afterwards.
execute_process(COMMAND ${WINE_RUN} --version
                RESULT_VARIABLE wine_result OUTPUT_QUIET ERROR_QUIET)
if(NOT wine_result EQUAL 0)
  message(FATAL_ERROR "could not prepare the Wine prefix ${WINEPREFIX}")
endif()

file(REMOVE_RECURSE ${SCRATCH})
file(MAKE_DIRECTORY ${SCRATCH})
file(CREATE_LINK /dev/full ${SCRATCH}/full.bin SYMBOLIC)
file(WRITE ${read_only} "old")
file(CHMOD ${read_only} PERMISSIONS OWNER_READ GROUP_READ WORLD_READ)
# Write permission does not stop root; the immutable flag does, where it is allowed,
# until the run ends.
execute_process(COMMAND id -u OUTPUT_VARIABLE uid OUTPUT_STRIP_TRAILING_WHITESPACE)
if(uid STREQUAL "0" AND CHATTR)
  execute_process(COMMAND ${CHATTR} +i ${read_only} OUTPUT_QUIET ERROR_QUIET)
endif()

set(devices ${WINEPREFIX}/dosdevices)
file(MAKE_DIRECTORY ${devices}/unc/kmtest)
file(REMOVE ${devices}/q: ${devices}/unc/kmtest/scratch)
file(CREATE_LINK ${SCRATCH} ${devices}/q: SYMBOLIC)
file(CREATE_LINK ${SCRATCH} ${devices}/unc/kmtest/scratch SYMBOLIC)
