# Compiler and linker settings shared by every target of the project (and of the reference
# plug-ins' own build, plugins/CMakeLists.txt).

set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
set(CMAKE_CXX_VISIBILITY_PRESET hidden)
set(CMAKE_VISIBILITY_INLINES_HIDDEN ON)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
# Libraries are named as hosts and Quiltra.ini name them: OvixResample.dll, not lib...dll.
if(WIN32)
  set(CMAKE_SHARED_LIBRARY_PREFIX "")
endif()

add_compile_options(-Wall -Wextra)
# Warnings are errors in the project's presets and CI; a build from the sources without the
# presets (a driver or plug-in author's, a packager's, another compiler's) is never stopped by
# a warning.
option(QUILTRA_WARNINGS_AS_ERRORS "Treat compiler warnings as errors" OFF)
if(QUILTRA_WARNINGS_AS_ERRORS)
  add_compile_options(-Werror)
endif()

if(QUILTRA_SANITIZE)
  add_compile_options(-fsanitize=${QUILTRA_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${QUILTRA_SANITIZE})
endif()

# The libFuzzer build (clang): everything carries the fuzzer's coverage instrumentation; only
# the fuzz programs link libFuzzer itself (tests/fuzz).
option(QUILTRA_FUZZ "Build only the libFuzzer targets (needs clang)" OFF)
if(QUILTRA_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

if(WIN32)
  # No MinGW runtime DLL beside ours in a host's folder: the GCC runtime and winpthread are
  # linked statically into every library and program.
  add_link_options(-static -static-libgcc -static-libstdc++)
endif()

# A library of ours whose own calls to its exported entry points must bind inside itself:
# the library, the simulator, the plug-ins and the test fakes all export the same names.
function(quiltra_module_library target)
  if(NOT WIN32)
    target_link_options(${target} PRIVATE -Wl,-Bsymbolic-functions)
    # clang links the sanitizer runtime into programs only: a sanitized library finds it in
    # the program that loads it.
    if(NOT (QUILTRA_SANITIZE AND CMAKE_CXX_COMPILER_ID MATCHES "Clang"))
      target_link_options(${target} PRIVATE -Wl,--no-undefined)
    endif()
  endif()
endfunction()
