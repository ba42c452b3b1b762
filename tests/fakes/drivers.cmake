# The fake underlying camera driver, one source built as libraries that leave entries out.
# Tests load them by full path (libraryPath("fake_driver...")) and script them through
# fake_driver_control.h.

add_library(quiltra_fake_driver_control INTERFACE)
target_include_directories(quiltra_fake_driver_control INTERFACE ${CMAKE_CURRENT_SOURCE_DIR}
                                                                  ${PROJECT_SOURCE_DIR}/include
                                                                  ${PROJECT_SOURCE_DIR}/tools/simcam)

# quiltra_fake_driver(name [definitions...]): one variant of the fake.
function(quiltra_fake_driver name)
  add_library(${name} SHARED ${CMAKE_CURRENT_SOURCE_DIR}/fake_driver.cpp)
  target_link_libraries(${name} PRIVATE quiltra_fake_driver_control)
  target_compile_definitions(${name} PRIVATE ${ARGN})
  if(NOT WIN32)
    find_package(Threads REQUIRED)
    target_link_libraries(${name} PRIVATE Threads::Threads)
  endif()
  quiltra_module_library(${name})
endfunction()

quiltra_fake_driver(fake_driver)
quiltra_fake_driver(fake_driver_no_initialize FAKE_DRIVER_NO_INITIALIZE FAKE_DRIVER_NO_FINALIZE)
quiltra_fake_driver(fake_driver_system_path_only FAKE_DRIVER_NO_INITIALIZE FAKE_DRIVER_NO_FINALIZE
                    FAKE_DRIVER_NO_SET_DEBUG_MSG_PROC)
quiltra_fake_driver(fake_driver_no_get_property FAKE_DRIVER_NO_GET_PROPERTY)
quiltra_fake_driver(fake_driver_no_hand_over FAKE_DRIVER_NO_SET_COMPLETE_CALLBACK)
quiltra_fake_driver(fake_driver_no_names FAKE_DRIVER_NO_CAMERA_NAMES)

# Every variant, for tests that load them.
set(QUILTRA_FAKE_DRIVERS fake_driver fake_driver_no_initialize fake_driver_system_path_only
    fake_driver_no_get_property fake_driver_no_hand_over fake_driver_no_names
    CACHE INTERNAL "The fake driver libraries")

# Tests that script a fake link this: it brings the control header and the platform's
# DynamicLibrary that fake_driver_library.h loads the fake with. Add DEPENDS
# ${QUILTRA_FAKE_DRIVERS} to the test so the fakes are built before it runs.
add_library(quiltra_fake_driver_access INTERFACE)
target_link_libraries(quiltra_fake_driver_access INTERFACE quiltra_fake_driver_control quiltra_core)
