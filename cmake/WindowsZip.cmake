# The Windows build's zip, opxkit-<version>-win64.zip (or -win32.zip): the command-line programs,
# the DLLs they link, the MinGW run-time DLLs they need and the README, in one folder, so that
# the programs run from wherever the zip is unpacked. Made by the target windows_zip; in place of
# the Linux installation (Install.cmake), whose layout and packages are Linux's own.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(_flavour win64)
else()
  set(_flavour win32)
endif()
set(_name opxkit-${PROJECT_VERSION}-${_flavour})
set(_stage ${CMAKE_BINARY_DIR}/zip/${_name})

set(_targets)
foreach(_t opx bren ufx cpconv vrl codexa opxcore brencore ufxcore vrlcore)
  if(TARGET ${_t})
    list(APPEND _targets ${_t})
  endif()
endforeach()
set(_files ${OPX_WINDOWS_RUNTIME_DLLS} ${CMAKE_SOURCE_DIR}/README.md)
foreach(_t IN LISTS _targets)
  list(APPEND _files $<TARGET_FILE:${_t}>)
endforeach()

add_custom_target(windows_zip
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${_stage} ${CMAKE_BINARY_DIR}/${_name}.zip
  COMMAND ${CMAKE_COMMAND} -E make_directory ${_stage}
  COMMAND ${CMAKE_COMMAND} -E copy ${_files} ${_stage}
  COMMAND ${CMAKE_COMMAND} -E chdir ${CMAKE_BINARY_DIR}/zip
          ${CMAKE_COMMAND} -E tar cf ${CMAKE_BINARY_DIR}/${_name}.zip --format=zip ${_name}
  DEPENDS ${_targets} windows_runtime
  COMMENT "Making ${_name}.zip"
  VERBATIM)
