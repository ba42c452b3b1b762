# cmake -DLISTER=<nm or objdump> -DWINDOWS=<bool> -DLIBRARY=<file> [-DEXPECTED=<names>]
#       -P check_exports.cmake
# EXPECTED: the exact exported names, sorted, comma-separated; by default the library's sixteen.
if(DEFINED EXPECTED)
  string(REPLACE "," ";" expected "${EXPECTED}")
else()
  set(expected closeCVLPort configureCamera doCVLGrab execCmd finalize getCVLCameraConfigNames
      getCVLGrabRow getCVLMaxNoOfPorts getCVLNoOfSupportedCameras getProperty getPropertyRange
      initialize openCVLPort setCmdCallback setCompleteCallback setProperty)
endif()

if(WINDOWS)
  execute_process(COMMAND ${LISTER} -p ${LIBRARY} OUTPUT_VARIABLE listing RESULT_VARIABLE failed)
  # The export name table: lines "\t[   0] name" after "[Ordinal/Name Pointer] Table".
  string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table\n(\t\\[ *[0-9]+\\] [^\n]+\n)*" table "${listing}")
  string(REGEX MATCHALL "\\[ *[0-9]+\\] [^\n]+" rows "${table}")
  set(exported)
  foreach(row ${rows})
    string(REGEX REPLACE "^\\[ *[0-9]+\\] " "" name "${row}")
    string(STRIP "${name}" name)
    list(APPEND exported ${name})
  endforeach()
else()
  execute_process(COMMAND ${LISTER} -D --defined-only ${LIBRARY} OUTPUT_VARIABLE listing RESULT_VARIABLE failed)
  string(REGEX MATCHALL "[0-9a-f]+ [A-Za-z] [^\n]+" rows "${listing}")
  set(exported)
  foreach(row ${rows})
    string(REGEX REPLACE "^[0-9a-f]+ [A-Za-z] " "" name "${row}")
    string(REGEX REPLACE "@.*$" "" name "${name}")
    list(APPEND exported ${name})
  endforeach()
endif()

if(failed)
  message(FATAL_ERROR "could not list the exports of ${LIBRARY}")
endif()
list(SORT exported)
list(REMOVE_DUPLICATES exported)
if(NOT exported STREQUAL expected)
  message(FATAL_ERROR "exports of ${LIBRARY}:\n  ${exported}\nexpected exactly:\n  ${expected}")
endif()
list(LENGTH expected count)
message(STATUS "${LIBRARY} exports exactly the ${count} expected functions")
