# Compiler and linker settings shared by every target of the project.

add_compile_options(-Wall -Wextra -Werror)

if(QUILTRA_SANITIZE)
  add_compile_options(-fsanitize=${QUILTRA_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${QUILTRA_SANITIZE})
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
    target_link_options(${target} PRIVATE -Wl,-Bsymbolic-functions -Wl,--no-undefined)
  endif()
endfunction()
