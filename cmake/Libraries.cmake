# opx_shared_library(<name> EXPORTS <file> SOURCES ...)
#
# A deliverable shared library: hidden visibility, only the names listed in the exports file
# (one per line) are exported, through a version script, and -Bsymbolic binds the library's
# own references to its own definitions, so that two cores carrying the same runtime never bind
# to each other's copy when they are loaded into one process.
function(opx_shared_library name)
  cmake_parse_arguments(ARG "" "EXPORTS" "SOURCES" ${ARGN})
  add_library(${name} SHARED ${ARG_SOURCES})
  set_target_properties(${name} PROPERTIES
    C_VISIBILITY_PRESET hidden
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  file(STRINGS ${ARG_EXPORTS} _names REGEX "^[A-Za-z_][A-Za-z0-9_]*$")
  if(WIN32)
    opx_windows_exports(${name} ${ARG_EXPORTS} "${_names}")
    return()
  endif()
  set(_script "{\n  global:\n")
  foreach(_n IN LISTS _names)
    string(APPEND _script "    ${_n};\n")
  endforeach()
  string(APPEND _script "  local:\n    *;\n};\n")
  set(_map ${CMAKE_CURRENT_BINARY_DIR}/${name}.map)
  file(WRITE ${_map}.in "${_script}")
  configure_file(${_map}.in ${_map} COPYONLY)
  target_link_options(${name} PRIVATE -Wl,--version-script=${_map} -Wl,-Bsymbolic)
  # A shared library must not depend on symbols of its host; with the sanitizers the runtime
  # comes from the program, so the check is left to the ordinary build.
  if(NOT OPX_SANITIZE AND NOT OPX_FUZZ)
    target_link_options(${name} PRIVATE -Wl,--no-undefined)
  endif()
  set_property(TARGET ${name} APPEND PROPERTY LINK_DEPENDS ${_map})
  opx_warnings(${name})
endfunction()

# opx_static_library(<name> SOURCES ...): a position-independent static library that is linked
# into deliverables (the runtime, shared format code, the platform layer).
function(opx_static_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  set_target_properties(${name} PROPERTIES
    POSITION_INDEPENDENT_CODE ON
    C_VISIBILITY_PRESET hidden
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  opx_warnings(${name})
endfunction()

# opx_windows_exports(<name> <exports file> <names>): a DLL (codexa.dll, not libcodexa.dll) whose
# export table holds exactly the listed names, undecorated, through a module-definition file,
# with its import library (libcodexa.dll.a). Windows binds each DLL's references to its own
# definitions, so the version script and -Bsymbolic of the ELF build have no counterpart here.
function(opx_windows_exports name exports names)
  set(_def "LIBRARY ${name}.dll\nEXPORTS\n")
  foreach(_n IN LISTS names)
    string(APPEND _def "    ${_n}\n")
  endforeach()
  set(_file ${CMAKE_CURRENT_BINARY_DIR}/${name}.def)
  file(WRITE ${_file}.in "${_def}")
  configure_file(${_file}.in ${_file} COPYONLY)
  set_target_properties(${name} PROPERTIES PREFIX "")
  target_link_options(${name} PRIVATE ${_file} -Wl,--exclude-all-symbols)
  set_property(TARGET ${name} APPEND PROPERTY LINK_DEPENDS ${_file} ${exports})
  opx_warnings(${name})
endfunction()
