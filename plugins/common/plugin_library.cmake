# quiltra_plugin_library(target OUTPUT_NAME name CORE core SOURCES ... LIBS ...)
# A reference plug-in: the static library CORE of SOURCES for the tests, and the shared
# library `name` beside the build's programs, exporting only the names of name.def
# (Windows) or name.map (Linux), both in the calling folder.
function(quiltra_plugin_library target)
  cmake_parse_arguments(P "" "OUTPUT_NAME;CORE" "SOURCES;LIBS" ${ARGN})
  set(dir ${CMAKE_CURRENT_SOURCE_DIR})
  set(common ${CMAKE_CURRENT_FUNCTION_LIST_DIR})

  # Everything but the exported functions' library, for the tests.
  add_library(${P_CORE} STATIC ${P_SOURCES})
  target_include_directories(${P_CORE} PUBLIC ${dir} ${common})
  target_link_libraries(${P_CORE} PUBLIC quiltra_headers)
  target_compile_definitions(${P_CORE} PUBLIC QUILTRA_PLUGIN_EXPORTS)
  target_link_libraries(${P_CORE} PUBLIC ${P_LIBS})

  add_library(${target} SHARED ${P_SOURCES})
  set_target_properties(${target} PROPERTIES OUTPUT_NAME ${P_OUTPUT_NAME})
  target_include_directories(${target} PRIVATE ${common})
  target_link_libraries(${target} PRIVATE quiltra_headers)
  target_compile_definitions(${target} PRIVATE QUILTRA_PLUGIN_EXPORTS)
  target_link_libraries(${target} PRIVATE ${P_LIBS})
  quiltra_module_library(${target})
  if(WIN32)
    target_sources(${target} PRIVATE ${dir}/${P_OUTPUT_NAME}.def)
  else()
    find_package(Threads REQUIRED)
    target_link_libraries(${target} PRIVATE Threads::Threads)
    target_link_options(${target} PRIVATE -Wl,--version-script=${dir}/${P_OUTPUT_NAME}.map)
    set_target_properties(${target} PROPERTIES LINK_DEPENDS ${dir}/${P_OUTPUT_NAME}.map)
  endif()
endfunction()
