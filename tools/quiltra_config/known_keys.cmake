# cmake -DDOC=<docs/configuration.md> -DOUT=<known_keys.inc> -P known_keys.cmake
#
# Writes the keys of the tables of docs/configuration.md, per section kind, as rows of a C++
# table for quiltra-config: `{SectionKind::scanner, "Cameras"},`. A table row's first cell
# holds nothing but backticked key names: | `Size_x`, `Size_y` |. The file is replaced only
# when its content changes.

cmake_minimum_required(VERSION 3.25)

set(kinds config scanner camera calib)
set(config_heading "## [Config]")
set(scanner_heading "## [ScannerNNNN]")
set(camera_heading "## [ScannerNNNN.CameraN]")
set(calib_heading "## [ScannerNNNN.CameraN.CalibK]")

file(READ ${DOC} doc)
set(rows "// Generated from docs/configuration.md by known_keys.cmake: the keys of its tables.\n")
foreach(kind IN LISTS kinds)
  set(heading "${${kind}_heading}")
  string(FIND "${doc}" "\n${heading}\n" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${DOC}: no heading '${heading}'")
  endif()
  string(LENGTH "${heading}" length)
  math(EXPR at "${at} + ${length} + 2")
  string(SUBSTRING "${doc}" ${at} -1 part)
  string(FIND "${part}" "\n## " end)
  if(NOT end EQUAL -1)
    string(SUBSTRING "${part}" 0 ${end} part)
  endif()
  set(name "`[A-Z][A-Za-z0-9_]*`")
  string(REGEX MATCHALL "\n\\| ${name}(, ${name})* \\|" cells "${part}")
  set(count 0)
  foreach(cell IN LISTS cells)
    string(REGEX MATCHALL "`[A-Z][A-Za-z0-9_]*`" keys "${cell}")
    foreach(key IN LISTS keys)
      string(REPLACE "`" "" key "${key}")
      string(APPEND rows "{SectionKind::${kind}, \"${key}\"},\n")
      math(EXPR count "${count} + 1")
    endforeach()
  endforeach()
  if(count EQUAL 0)
    message(FATAL_ERROR "${DOC}: no keys in the table under '${heading}'")
  endif()
endforeach()
file(WRITE ${OUT}.new "${rows}")
configure_file(${OUT}.new ${OUT} COPYONLY)
file(REMOVE ${OUT}.new)
