# The payload tree, checked when the win32 tree is configured, so that a misspelled or
# missing folder or a missing setup program stops the build with a message instead of
# giving a launcher that fails on the user's machine.
#
# Sets for resources/:
#   KM_PAYLOAD_ROOT        the payload folder as an absolute path
#   KM_PAYLOAD_ARCHIVES    the archives that have a folder, in resource order
#   KM_PAYLOAD_STAND_INS   the programs (Zephrun.exe, lingerx.exe) the build adds to
#                          SETUPBASE from its own stand-ins; empty for a vendor payload
#   KM_ARCHIVE_NAMES       all eight archive names

set(KM_PAYLOAD_DIR ${PROJECT_SOURCE_DIR}/demo/payload CACHE PATH
    "Payload folder with one folder per archive (BASE, SETUPBASE, SETUPPHOTO, PHOTOEDITION, KMIMAGE, KMVERSION, APPBASE, PHOTOUNINST)")
option(KM_STAND_INS
  "Pack the project's stand-in Zephrun.exe and lingerx.exe into SETUPBASE where the payload has none (for trying the launcher and for tests; never for shipping). The demo payload always gets them."
  OFF)

set(KM_ARCHIVE_NAMES BASE SETUPBASE SETUPPHOTO PHOTOEDITION KMIMAGE KMVERSION APPBASE PHOTOUNINST)
# The launcher unpacks these into its setup folder; the other two stay inside it for the
# setup program.
set(km_unpacked_archives BASE SETUPBASE SETUPPHOTO PHOTOEDITION KMIMAGE KMVERSION)
# What the launcher's cleanup script and launch step run from the setup folder.
set(km_setup_programs Zephrun.exe lingerx.exe)

# A path as a literal file(GLOB) pattern: the metacharacters of a folder name such as
# "Setup [v2]" are matched as themselves.
function(km_glob_literal path out)
  string(REGEX REPLACE "([][*?])" "[\\1]" escaped "${path}")
  set(${out} "${escaped}" PARENT_SCOPE)
endfunction()

# The same name in any case, as a glob pattern ("lingerx.exe" -> "[Ll][Ii]...").
function(km_glob_any_case name out)
  set(pattern "")
  string(LENGTH "${name}" length)
  math(EXPR last "${length} - 1")
  foreach(i RANGE ${last})
    string(SUBSTRING "${name}" ${i} 1 c)
    string(TOUPPER "${c}" upper)
    string(TOLOWER "${c}" lower)
    if(upper STREQUAL lower)
      km_glob_literal("${c}" c)
      string(APPEND pattern "${c}")
    else()
      string(APPEND pattern "[${upper}${lower}]")
    endif()
  endforeach()
  set(${out} "${pattern}" PARENT_SCOPE)
endfunction()

get_filename_component(KM_PAYLOAD_ROOT "${KM_PAYLOAD_DIR}" ABSOLUTE BASE_DIR "${PROJECT_SOURCE_DIR}")
list(JOIN KM_ARCHIVE_NAMES ", " km_archive_list)
set(km_layout_hint "The payload folder holds one folder per archive, named exactly ${km_archive_list}; see \"Packaging your own setup\" in README.md.")

if(NOT IS_DIRECTORY "${KM_PAYLOAD_ROOT}")
  if(EXISTS "${KM_PAYLOAD_ROOT}")
    set(km_why "is not a folder")
  else()
    set(km_why "does not exist")
  endif()
  message(FATAL_ERROR "KM_PAYLOAD_DIR: ${KM_PAYLOAD_ROOT} ${km_why}.\n${km_layout_hint}")
endif()

# Anything at the top of the payload folder besides the archive folders would silently
# not be shipped: a misspelled folder ("Base", "APPBASE_") most of all.
km_glob_literal("${KM_PAYLOAD_ROOT}" km_root_pattern)
file(GLOB km_entries LIST_DIRECTORIES true RELATIVE "${KM_PAYLOAD_ROOT}" "${km_root_pattern}/*")
set(km_strays)
foreach(entry IN LISTS km_entries)
  if(NOT entry IN_LIST KM_ARCHIVE_NAMES)
    list(APPEND km_strays "'${entry}'")
  endif()
endforeach()
if(km_strays)
  list(LENGTH km_strays km_count)
  list(JOIN km_strays ", " km_strays)
  if(km_count EQUAL 1)
    set(km_what "which is not an archive folder and would not be shipped")
  else()
    set(km_what "which are not archive folders and would not be shipped")
  endif()
  message(FATAL_ERROR "KM_PAYLOAD_DIR: ${KM_PAYLOAD_ROOT} holds ${km_strays}, ${km_what}.\n${km_layout_hint}")
endif()

set(KM_PAYLOAD_ARCHIVES)
set(km_absent)
foreach(name IN LISTS KM_ARCHIVE_NAMES)
  set(folder "${KM_PAYLOAD_ROOT}/${name}")
  if(IS_SYMLINK "${folder}")
    # The same rule as for links inside the folders (kmarc pack): folder links are refused.
    message(FATAL_ERROR "KM_PAYLOAD_DIR: ${folder} is a symbolic link; an archive folder must be a folder of its own.")
  elseif(IS_DIRECTORY "${folder}")
    list(APPEND KM_PAYLOAD_ARCHIVES ${name})
  elseif(EXISTS "${folder}")
    message(FATAL_ERROR "KM_PAYLOAD_DIR: ${folder} is a file; each archive is packed from a folder of that name.")
  else()
    list(APPEND km_absent ${name})
  endif()
endforeach()

if(KM_PAYLOAD_ROOT STREQUAL "${PROJECT_SOURCE_DIR}/demo/payload")
  set(km_stand_ins_allowed ON)
  set(km_stand_ins_reason "the demo payload")
else()
  set(km_stand_ins_allowed ${KM_STAND_INS})
  set(km_stand_ins_reason "KM_STAND_INS is ON")
endif()

# The launcher starts Zephrun.exe from its setup folder and its cleanup script runs
# lingerx.exe from there, so each must be at the top of one of the six folders it unpacks.
set(KM_PAYLOAD_STAND_INS)
foreach(program IN LISTS km_setup_programs)
  km_glob_any_case("${program}" program_pattern)
  set(found)
  foreach(name IN LISTS km_unpacked_archives)
    if(name IN_LIST KM_PAYLOAD_ARCHIVES)
      km_glob_literal("${KM_PAYLOAD_ROOT}/${name}" folder_pattern)
      file(GLOB matches LIST_DIRECTORIES true "${folder_pattern}/${program_pattern}")
      foreach(match IN LISTS matches)
        if(IS_DIRECTORY "${match}")
          message(FATAL_ERROR "KM_PAYLOAD_DIR: ${match} is a folder; the launcher runs ${program} as a program.")
        endif()
        set(found ${name})
      endforeach()
      if(found)
        break()
      endif()
    endif()
  endforeach()
  if(found)
    continue()
  endif()
  if(NOT km_stand_ins_allowed)
    list(JOIN km_unpacked_archives " " unpacked)
    message(FATAL_ERROR "KM_PAYLOAD_DIR: no ${program} in ${KM_PAYLOAD_ROOT}/SETUPBASE.\n"
      "The launcher runs ${program} from its setup folder, which holds what it unpacks from ${unpacked}; "
      "put the program into SETUPBASE. To try the launcher without one, configure with -DKM_STAND_INS=ON: "
      "the project's stand-in then goes in, which is not for shipping.")
  endif()
  list(APPEND KM_PAYLOAD_STAND_INS ${program})
endforeach()

list(JOIN KM_PAYLOAD_ARCHIVES " " km_carried)
list(JOIN km_absent " " km_absent)
message(STATUS "Payload ${KM_PAYLOAD_ROOT}")
message(STATUS "  archives the launcher carries: ${km_carried}")
if(km_absent)
  message(STATUS "  archives it does not carry (no folder): ${km_absent}")
endif()
if(KM_PAYLOAD_STAND_INS)
  list(JOIN KM_PAYLOAD_STAND_INS " and " km_programs)
  message(STATUS "  STAND-INS: the project's ${km_programs} go into SETUPBASE (${km_stand_ins_reason}); not for shipping")
endif()

# Adding, removing or renaming anything at the top of the payload folder or of a folder
# the programs are looked for in configures the tree again, so these checks always see
# the current tree.
set_property(DIRECTORY "${PROJECT_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${KM_PAYLOAD_ROOT}")
foreach(name IN LISTS km_unpacked_archives)
  if(name IN_LIST KM_PAYLOAD_ARCHIVES)
    set_property(DIRECTORY "${PROJECT_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${KM_PAYLOAD_ROOT}/${name}")
  endif()
endforeach()
