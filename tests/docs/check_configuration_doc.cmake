# cmake -DSOURCE_DIR=<repo> -P check_configuration_doc.cmake
#
# docs/configuration.md has two parts: Quiltra.ini (everything before the heading
# "## simcam.ini") and simcam.ini. For each part, the keys of its tables (the rows whose first
# cell holds nothing but backticked names) are compared with the word-like string literals ("Port",
# "TopLeft_x") of the sources that read and write that file:
# - a documented key must be a literal there; a point key "<Key>_x" / "<Key>_y" may be named
#   by "<Key>", as the point readers and writers name it;
# - a literal must be a documented key, the name of a documented point, a section the part
#   shows as [Name], or one of the part's named exceptions.

cmake_minimum_required(VERSION 3.25)

# Per part: the sources that read or write its file, and literals there that are not keys.
set(parts quiltra simcam)
set(quiltra_sources
    src/config/configuration_file.cpp src/config/scanner_builder.cpp src/config/first_start.cpp
    src/host/driver_host.cpp tools/quiltra_calibrate/calibration_run.cpp
    tools/quiltra_calibrate/scene_check.cpp tools/common/scanner_layout.cpp)
set(quiltra_exceptions "")
set(simcam_sources tools/simcam/sim_settings.cpp)
# ExposureTime is the port property of the file key ExposureDelay.
set(simcam_exceptions ExposureTime)

set(failures "")
macro(fail text)
  string(APPEND failures "  ${text}\n")
endmacro()

# Splits the document into the parts' texts and their table keys. (The text is not split into
# a CMake list of lines: brackets in it would hold lines together.)
file(READ ${SOURCE_DIR}/docs/configuration.md doc)
string(FIND "${doc}" "\n## simcam.ini" simcam_at)
if(simcam_at EQUAL -1)
  fail("docs/configuration.md: no heading '## simcam.ini'")
  set(simcam_at 0)
endif()
string(SUBSTRING "${doc}" 0 ${simcam_at} quiltra_text)
string(SUBSTRING "${doc}" ${simcam_at} -1 simcam_text)
foreach(part IN LISTS parts)
  set(${part}_keys "")
  # A key table's row begins with a cell of keys only: | `Size_x`, `Size_y` |
  set(name "`[A-Z][A-Za-z0-9_]*`")
  string(REGEX MATCHALL "\n\\| ${name}(, ${name})* \\|" first_cells "${${part}_text}")
  foreach(cell IN LISTS first_cells)
    string(REGEX MATCHALL "`[A-Z][A-Za-z0-9_]*`" cell_keys "${cell}")
    foreach(key IN LISTS cell_keys)
      string(REPLACE "`" "" key "${key}")
      list(APPEND ${part}_keys ${key})
    endforeach()
  endforeach()
endforeach()

foreach(part IN LISTS parts)
  list(REMOVE_DUPLICATES ${part}_keys)
  set(literals "")
  foreach(source IN LISTS ${part}_sources)
    if(NOT EXISTS ${SOURCE_DIR}/${source})
      fail("${source}: missing (update the list in tests/docs/check_configuration_doc.cmake)")
      continue()
    endif()
    file(READ ${SOURCE_DIR}/${source} code)
    string(REGEX MATCHALL "\"[A-Z][A-Za-z0-9_]*\"" found "${code}")
    list(APPEND literals ${found})
  endforeach()
  string(REPLACE "\"" "" literals "${literals}")
  list(REMOVE_DUPLICATES literals)
  list(LENGTH ${part}_keys key_count)
  list(LENGTH literals literal_count)
  if(key_count EQUAL 0 OR literal_count EQUAL 0)
    fail("${part}: ${key_count} documented keys, ${literal_count} literals in the sources")
  endif()

  foreach(key IN LISTS ${part}_keys)
    set(named_as ${key})
    if(key MATCHES "^(.+)_[xy]$")
      list(APPEND named_as ${CMAKE_MATCH_1})
    endif()
    set(found FALSE)
    foreach(name IN LISTS named_as)
      if(name IN_LIST literals)
        set(found TRUE)
      endif()
    endforeach()
    if(NOT found)
      string(REPLACE ";" ", " sources "${${part}_sources}")
      fail("${part}: documented key ${key} is read or written by none of: ${sources}")
    endif()
  endforeach()

  foreach(literal IN LISTS literals)
    string(FIND "${${part}_text}" "[${literal}]" section_at)
    if(NOT literal IN_LIST ${part}_keys AND NOT "${literal}_x" IN_LIST ${part}_keys
       AND section_at EQUAL -1 AND NOT literal IN_LIST ${part}_exceptions)
      fail("${part}: \"${literal}\" in the sources is in no table of docs/configuration.md")
    endif()
  endforeach()
  message(STATUS "${part}: ${key_count} documented keys, ${literal_count} literals checked")
endforeach()

if(NOT failures STREQUAL "")
  message(FATAL_ERROR "docs/configuration.md and the code disagree:\n${failures}")
endif()
