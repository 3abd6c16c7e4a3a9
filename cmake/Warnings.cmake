# Warning flags shared by every target of the project.
function(opx_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
                                           -Wno-sign-conversion)
  if(OPX_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# Tests parse numbers and build byte strings all the time; -Wconversion there only adds casts.
function(opx_test_warnings target)
  opx_warnings(${target})
  target_compile_options(${target} PRIVATE -Wno-conversion)
endfunction()
