# Installs BUILD_DIR into WORK_DIR/prefix, builds the plug-in guide's example and a small host
# against it as separate projects, and runs the host: it loads the installed library and,
# through a scanner, the installed plug-ins.
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

foreach(project example host)
  if(project STREQUAL example)
    set(source ${SOURCE_DIR}/examples/minimal_prefilter)
  else()
    set(source ${SOURCE_DIR}/tests/package/host)
  endif()
  run(${CMAKE_COMMAND} -S ${source} -B ${WORK_DIR}/${project} -G ${GENERATOR}
      -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_TYPE=Release)
  run(${CMAKE_COMMAND} --build ${WORK_DIR}/${project})
endforeach()

# The host, with the installed simulated cameras as the camera driver.
file(WRITE ${WORK_DIR}/system/Quiltra.ini "[Config]\nCameraDriver=${prefix}/lib/libsimcam.so\n")
run(${WORK_DIR}/host/package_host ${WORK_DIR}/system)
if(NOT last_output MATCHES "SimCam1")
  message(FATAL_ERROR "the host did not see the simulated cameras:\n${last_output}")
endif()

# The installed host tool grabs a scanner whose camera runs through the example plug-in.
file(WRITE ${WORK_DIR}/system/invert.flt "")
file(WRITE ${WORK_DIR}/system/Quiltra.ini
     "[Config]\nCameraDriver=${prefix}/lib/libsimcam.so\n"
     "[Scanner0001]\nCameras=1\nScans=1\nThreaded=0\nSize_x=480\nSize_y=640\n"
     "[Scanner0001.Camera1]\nPort=0\nPrefilter=invert.flt\n"
     "FilterDLL=${WORK_DIR}/example/libminimal_prefilter.so\n")
run(${prefix}/bin/quiltra-grab --library ${prefix}/lib/libquiltra.so --system-dir ${WORK_DIR}/system
    --ports 1 --scanner Scanner0001@10 --count 1 --out ${WORK_DIR}/grab --quiet)
message(STATUS "${last_output}")
