# `cmake --install`: the library and its public headers, the reference plug-ins beside the
# library (where their default names find them), the tools and the simulated camera driver,
# and a package configuration, so that find_package(Quiltra) gives
#   Quiltra::headers  include/quiltra/*.h alone, for camera driver and plug-in authors;
#   Quiltra::quiltra  the library, for hosts that link it rather than load it.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# Windows loads a DLL from the program's folder, Linux from the run path: each platform's
# libraries go where its loader looks beside the others.
if(WIN32)
  set(quiltra_module_destination ${CMAKE_INSTALL_BINDIR})
else()
  set(quiltra_module_destination ${CMAKE_INSTALL_LIBDIR})
endif()

install(TARGETS quiltra quiltra_headers EXPORT QuiltraTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/quiltra DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS resampler_plugin prefilter_plugin
        LIBRARY DESTINATION ${quiltra_module_destination}
        RUNTIME DESTINATION ${quiltra_module_destination})
if(QUILTRA_BUILD_TOOLS)
  install(TARGETS simcam
          LIBRARY DESTINATION ${quiltra_module_destination}
          RUNTIME DESTINATION ${quiltra_module_destination})
  foreach(tool quiltra-grab quiltra-config quiltra-conformance quiltra-calibrate
               quiltra-stitch-check)
    if(TARGET ${tool})
      install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    endif()
  endforeach()
endif()

set(quiltra_package_dir ${CMAKE_INSTALL_LIBDIR}/cmake/Quiltra)
install(EXPORT QuiltraTargets NAMESPACE Quiltra:: DESTINATION ${quiltra_package_dir})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/QuiltraConfig.cmake.in
                              ${CMAKE_BINARY_DIR}/QuiltraConfig.cmake
                              INSTALL_DESTINATION ${quiltra_package_dir})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/QuiltraConfigVersion.cmake
                                 COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_BINARY_DIR}/QuiltraConfig.cmake ${CMAKE_BINARY_DIR}/QuiltraConfigVersion.cmake
        DESTINATION ${quiltra_package_dir})
