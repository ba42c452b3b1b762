# Installs BUILD_DIR into WORK_DIR/prefix, builds the reference plug-ins, simcam, the plug-in
# guide's example and a small host against it as separate projects, and runs the host: it
# loads the installed library and, through a scanner, the plug-ins built outside. The
# installed quiltra-config then finds the installed plug-ins by their default names.
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE output
                  ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    string(REPLACE ";" " " command "${ARGN}")
    message(FATAL_ERROR "${command}\n${output}")
  endif()
  set(last_output "${output}" PARENT_SCOPE)
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
foreach(file include/quiltra/camera_driver.h include/quiltra/plugin.h lib/libquiltra.so
             lib/libOvixResample.so lib/libOvixImageFilter.so lib/cmake/Quiltra/QuiltraConfig.cmake)
  if(NOT EXISTS ${prefix}/${file})
    message(FATAL_ERROR "cmake --install did not put ${file} in place")
  endif()
endforeach()

set(plugins_source ${SOURCE_DIR}/plugins)
set(simcam_source ${SOURCE_DIR}/tools/simcam)
set(example_source ${SOURCE_DIR}/examples/minimal_prefilter)
set(host_source ${SOURCE_DIR}/tests/package/host)
foreach(project plugins simcam example host)
  set(source ${${project}_source})
  run(${CMAKE_COMMAND} -S ${source} -B ${WORK_DIR}/${project} -G ${GENERATOR}
      -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_TYPE=Release)
  run(${CMAKE_COMMAND} --build ${WORK_DIR}/${project})
endforeach()

# The host, with the simulated cameras built outside as the camera driver.
file(WRITE ${WORK_DIR}/system/Quiltra.ini "[Config]\nCameraDriver=${WORK_DIR}/simcam/libsimcam.so\n")
run(${WORK_DIR}/host/package_host ${WORK_DIR}/system)
if(NOT last_output MATCHES "SimCam1")
  message(FATAL_ERROR "the host did not see the simulated cameras:\n${last_output}")
endif()

# The installed host tool grabs a scanner whose first camera runs through the example
# plug-in, and whose second through the reference prefilter (gain 1.5) and resampler (turned
# by a degree, in camera pixels) built outside. A plug-in that does not load leaves its camera
# unfiltered or black, so the image must differ from the grabs with either one missing.
file(WRITE ${WORK_DIR}/system/invert.flt "")
file(WRITE ${WORK_DIR}/system/gain.flt "quiltra-prefilter 1\ngain = 1.5\n")
function(grab name filter resampler)
  file(WRITE ${WORK_DIR}/system/Quiltra.ini
       "[Config]\nCameraDriver=${prefix}/lib/libsimcam.so\n"
       "[Scanner0001]\nCameras=2\nScans=1\nThreaded=0\nSize_x=480\nSize_y=1280\n"
       "[Scanner0001.Camera1]\nPort=0\nPrefilter=invert.flt\nSize_x=480\nSize_y=640\n"
       "FilterDLL=${WORK_DIR}/example/libminimal_prefilter.so\n"
       "[Scanner0001.Camera2]\nPort=1\nPrefilter=gain.flt\nTopLeft_x=0\nTopLeft_y=0\nAngle=1\n"
       "Size_x=480\nSize_y=640\nFilterDLL=${filter}\nResampleDLL=${resampler}\n")
  run(${prefix}/bin/quiltra-grab --library ${prefix}/lib/libquiltra.so
      --system-dir ${WORK_DIR}/system --ports 2 --scanner Scanner0001@10 --count 1
      --out ${WORK_DIR}/${name} --quiet)
  file(SHA256 ${WORK_DIR}/${name}/Scanner0001_port10_0000.png sum)
  set(${name} ${sum} PARENT_SCOPE)
endfunction()
set(built ${WORK_DIR}/plugins)
grab(both ${built}/libOvixImageFilter.so ${built}/libOvixResample.so)
grab(no_filter ${built}/missing.so ${built}/libOvixResample.so)
grab(no_resampler ${built}/libOvixImageFilter.so ${built}/missing.so)
if(both STREQUAL no_filter OR both STREQUAL no_resampler)
  message(FATAL_ERROR "a reference plug-in built against the package did not take part")
endif()

# quiltra-config, installed, finds the plug-ins installed beside the library by their default
# names, as the loader will.
file(WRITE ${WORK_DIR}/system/Quiltra.ini
     "[Config]\nCameraDriver=libsimcam.so\n"
     "[Scanner0001]\nCameras=1\nScans=1\nSize_x=480\nSize_y=640\n"
     "[Scanner0001.Camera1]\nPort=0\nPrefilter=gain.flt\nSize_x=240\nSize_y=320\n")
run(${prefix}/bin/quiltra-config check ${WORK_DIR}/system)
if(last_output MATCHES "loader searches")
  message(FATAL_ERROR "the installed quiltra-config did not find an installed library:\n${last_output}")
endif()
