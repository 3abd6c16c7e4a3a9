# What `cmake --install build --prefix P` installs, the manual pages and bash completion made
# from the programs' own --help, the pkg-config files, and the Debian package (CPack).
#
# Included at the end of the top-level CMakeLists.txt, when every target exists: a program or
# library that this build does not make (vrl before the linkage editor joins, the window
# programs without Qt) is left out. The folders are those of InstallLayout.cmake.

set(OPX_INSTALL_PROGRAMS)
foreach(_t opx bren ufx cpconv vrl Pelda opxwin)
  if(TARGET ${_t})
    list(APPEND OPX_INSTALL_PROGRAMS ${_t})
  endif()
endforeach()
# The shared libraries: the cores and codexa, and the bridges that opxwin loads by name.
set(OPX_INSTALL_LIBRARIES)
foreach(_t codexa opxcore brencore ufxcore vrlcore opxbridge brenbridge)
  if(TARGET ${_t})
    list(APPEND OPX_INSTALL_LIBRARIES ${_t})
  endif()
endforeach()

# Programs ------------------------------------------------------------------------------------
# Each finds the libraries through a run path relative to its own folder, so that a moved
# installation keeps working and nothing needs LD_LIBRARY_PATH. The window programs link none
# of them (opxwin loads the bridges by their path) and get no run path.
foreach(_t IN LISTS OPX_INSTALL_PROGRAMS)
  if(_t STREQUAL "Pelda" OR _t STREQUAL "opxwin")
    set_target_properties(${_t} PROPERTIES INSTALL_RPATH "")
  else()
    set_target_properties(${_t} PROPERTIES INSTALL_RPATH "$ORIGIN/${OPX_BIN_TO_LIB}")
  endif()
endforeach()
install(TARGETS ${OPX_INSTALL_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# Libraries: beside each other, so a library finds the others in its own folder.
set_target_properties(${OPX_INSTALL_LIBRARIES} PROPERTIES INSTALL_RPATH "$ORIGIN")
install(TARGETS ${OPX_INSTALL_LIBRARIES} LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})

# Public C headers ----------------------------------------------------------------------------
# The chief header of each library, and the two headers they include. The folder layout is the
# one the headers' own #include lines expect; opxkit.pc gives both folders to the compiler.
set(_headers ${CMAKE_SOURCE_DIR}/src/charset/codexa.h)
foreach(_pair opxcore:extract brencore:builder ufxcore:update vrlcore:linkedit)
  string(REPLACE ":" ";" _pair ${_pair})
  list(GET _pair 0 _lib)
  list(GET _pair 1 _dir)
  if(TARGET ${_lib})
    list(APPEND _headers ${CMAKE_SOURCE_DIR}/src/${_dir}/${_lib}.h)
  endif()
endforeach()
install(FILES ${_headers} DESTINATION ${OPX_INSTALL_INCLUDEDIR})
install(FILES ${CMAKE_SOURCE_DIR}/src/runtime/connection.h DESTINATION ${OPX_INSTALL_INCLUDEDIR}/runtime)
install(FILES ${CMAKE_SOURCE_DIR}/src/platform/export.h DESTINATION ${OPX_INSTALL_INCLUDEDIR}/platform)

# pkg-config ----------------------------------------------------------------------------------
# opxkit.pc gives the headers and codexa; opxkit-<core>.pc adds one core. The cores are given
# one module each because several export the same entry names (pszDllConnect,
# UtilityMessageGet): a program linked with all of them would reach only one core's.
# The prefix is found from the .pc file's own folder, so a moved installation still answers.
set(OPX_PKGCONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH OPX_PC_TO_PREFIX ${CMAKE_INSTALL_PREFIX}/${OPX_PKGCONFIG_DIR} ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" OPX_PC_TO_PREFIX "${OPX_PC_TO_PREFIX}")
set(OPX_PC_DESCRIPTION "Code pages, conversions and Unicode properties (codexa) and the headers of the opxkit core libraries")
set(OPX_PC_NAME opxkit)
set(OPX_PC_REQUIRES "")
set(OPX_PC_LIBS "-lcodexa")
configure_file(${CMAKE_CURRENT_LIST_DIR}/opxkit.pc.in ${CMAKE_BINARY_DIR}/pkgconfig/opxkit.pc @ONLY)
set(_pcfiles ${CMAKE_BINARY_DIR}/pkgconfig/opxkit.pc)
set(OPX_PC_REQUIRES "opxkit = ${PROJECT_VERSION}")
foreach(_pair "opxcore:the TSO TRANSMIT file extractor"
              "brencore:the TSO TRANSMIT file builder"
              "ufxcore:the update utility"
              "vrlcore:the linkage editor")
  string(FIND "${_pair}" ":" _colon)
  string(SUBSTRING "${_pair}" 0 ${_colon} _lib)
  math(EXPR _colon "${_colon} + 1")
  string(SUBSTRING "${_pair}" ${_colon} -1 _what)
  if(TARGET ${_lib})
    set(OPX_PC_NAME opxkit-${_lib})
    set(OPX_PC_DESCRIPTION "The opxkit core library ${_lib}: ${_what}")
    set(OPX_PC_LIBS "-l${_lib}")
    configure_file(${CMAKE_CURRENT_LIST_DIR}/opxkit.pc.in ${CMAKE_BINARY_DIR}/pkgconfig/opxkit-${_lib}.pc @ONLY)
    list(APPEND _pcfiles ${CMAKE_BINARY_DIR}/pkgconfig/opxkit-${_lib}.pc)
  endif()
endforeach()
install(FILES ${_pcfiles} DESTINATION ${OPX_PKGCONFIG_DIR})

# Data files and documents ----------------------------------------------------------------------
# Pelda's installation directory: the tips and the help pages in doc/; opxwin's pictures go in
# the same doc/ folder, as they do beside the program in the build tree.
if(TARGET Pelda)
  install(FILES ${CMAKE_SOURCE_DIR}/src/ide/PeldaTips.txt DESTINATION ${OPX_INSTALL_DATADIR})
  install(DIRECTORY ${CMAKE_SOURCE_DIR}/src/ide/demo/doc/ DESTINATION ${OPX_INSTALL_DATADIR}/doc
          FILES_MATCHING PATTERN "*.htm")
endif()
if(TARGET opxwin)
  install(DIRECTORY ${CMAKE_SOURCE_DIR}/src/frontend/doc/ DESTINATION ${OPX_INSTALL_DATADIR}/doc
          FILES_MATCHING PATTERN "*.gif")
endif()
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${OPX_INSTALL_DOCDIR})
foreach(_licence LICENSE LICENSE.md LICENSE.txt COPYING)
  if(EXISTS ${CMAKE_SOURCE_DIR}/${_licence})
    install(FILES ${CMAKE_SOURCE_DIR}/${_licence} DESTINATION ${OPX_INSTALL_DOCDIR})
  endif()
endforeach()

# Desktop entries and icons for the window programs.
foreach(_t Pelda opxwin)
  if(TARGET ${_t})
    install(FILES ${CMAKE_SOURCE_DIR}/packaging/desktop/${_t}.desktop
            DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    install(FILES ${CMAKE_SOURCE_DIR}/packaging/desktop/${_t}.svg
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  endif()
endforeach()

# Manual pages and bash completion ----------------------------------------------------------------
# Made at build time by running each program with --help (and each subcommand with
# SUBCOMMAND --help), so they never disagree with the program. The window programs get a page
# but no completion (they take file names only, which bash completes by itself).
if(OPX_MANPAGES)
  if(NOT Python3_Interpreter_FOUND)
    message(FATAL_ERROR "The manual pages need Python 3 (or configure with -DOPX_MANPAGES=OFF)")
  endif()
  set(_man_dir ${CMAKE_BINARY_DIR}/man/man1)
  set(_completion_dir ${CMAKE_BINARY_DIR}/completion)
  set(_pages)
  set(_completions)
  foreach(_t IN LISTS OPX_INSTALL_PROGRAMS)
    set(_examples ${CMAKE_SOURCE_DIR}/packaging/man/${_t}.examples)
    set(_args --program $<TARGET_FILE:${_t}> --name ${_t} --version ${PROJECT_VERSION}
              --examples ${_examples} --man ${_man_dir}/${_t}.1.gz
              --see-also ${OPX_INSTALL_PROGRAMS})
    set(_outputs ${_man_dir}/${_t}.1.gz)
    if(NOT _t STREQUAL "Pelda" AND NOT _t STREQUAL "opxwin")
      list(APPEND _args --completion ${_completion_dir}/${_t})
      list(APPEND _outputs ${_completion_dir}/${_t})
      list(APPEND _completions ${_completion_dir}/${_t})
    endif()
    # The sanitizers' leak report at exit would fail the run of a Qt program; the pages are the
    # same without it.
    add_custom_command(OUTPUT ${_outputs}
      COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0
              ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tools/make_manpage.py ${_args}
      DEPENDS ${_t} ${CMAKE_SOURCE_DIR}/tools/make_manpage.py ${_examples}
      COMMENT "Manual page of ${_t}"
      VERBATIM)
    list(APPEND _pages ${_man_dir}/${_t}.1.gz)
  endforeach()
  add_custom_target(manpages ALL DEPENDS ${_pages} ${_completions})
  install(FILES ${_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${_completions} DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
endif()

include(Package)
