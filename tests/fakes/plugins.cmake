# Fake prefilter and resampler plug-ins, each also without its Create function, and the
# test-side handle that reaches their logs (fake_plugin.h).

function(quiltra_fake_plugin name source)
  add_library(${name} SHARED ${CMAKE_CURRENT_LIST_DIR}/${source})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/include)
  target_compile_definitions(${name} PRIVATE QUILTRA_PLUGIN_EXPORTS ${ARGN})
  quiltra_module_library(${name})
endfunction()

quiltra_fake_plugin(fake_prefilter fake_prefilter.cpp)
quiltra_fake_plugin(fake_prefilter_nocreate fake_prefilter.cpp FAKE_WITHOUT_CREATE)
quiltra_fake_plugin(fake_resampler fake_resampler.cpp)
quiltra_fake_plugin(fake_resampler_nocreate fake_resampler.cpp FAKE_WITHOUT_CREATE)

add_library(fake_plugin_control STATIC ${CMAKE_CURRENT_LIST_DIR}/fake_plugin.cpp)
target_include_directories(fake_plugin_control PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(fake_plugin_control PUBLIC quiltra_core quiltra_test_support)
add_dependencies(fake_plugin_control fake_prefilter fake_prefilter_nocreate fake_resampler
                 fake_resampler_nocreate)
