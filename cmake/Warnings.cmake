# Warning flags shared by every target of the project.
function(opx_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
                                           -Wno-sign-conversion)
  if(OPX_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# Tests parse numbers and build byte strings all the time; -Wconversion there only adds casts.
# GCC 12 also reports impossible sizes inside std::vector code of tests built with the
# sanitizers (-Wstringop-overflow and -Warray-bounds false positives), so those warnings are
# left to the libraries.
function(opx_test_warnings target)
  opx_warnings(${target})
  target_compile_options(${target} PRIVATE -Wno-conversion)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(${target} PRIVATE -Wno-stringop-overflow -Wno-array-bounds)
  endif()
endfunction()
