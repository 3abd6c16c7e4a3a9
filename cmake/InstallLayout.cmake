# Where an installation puts its files, and how the installed folders reach each other.
#
#   P/bin                       the programs
#   P/lib                       the shared libraries (the programs' run path is $ORIGIN/../lib)
#   P/include/opxkit            the public C headers
#   P/lib/pkgconfig/opxkit.pc   how other programs compile against and link the libraries
#   P/share/opxkit              the editor's tips and help pages, the window program's pictures
#   P/share/doc/opxkit          README and licence
#   P/share/man/man1            the manual pages
#
# The build tree keeps programs and libraries in one folder (bin/). A program or library that
# looks for a file beside itself tries its own folder first (the build tree) and then the
# installed folder, reached by a path relative to its own: nothing depends on the prefix, so an
# installation can be moved as a whole.
if(NOT DEFINED CMAKE_INSTALL_LIBDIR)
  # Plain lib/, not the multiarch folder that GNUInstallDirs picks for /usr on Debian: the
  # libraries are private to this toolkit's programs and found through their run path.
  set(CMAKE_INSTALL_LIBDIR lib CACHE PATH "Object code libraries (lib)")
endif()
include(GNUInstallDirs)

set(OPX_INSTALL_DATADIR ${CMAKE_INSTALL_DATADIR}/opxkit)
set(OPX_INSTALL_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/opxkit)
set(OPX_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/opxkit)

# opx_relative_dir(<var> <from> <to>): the path from one installed folder to another ("." when
# they are the same).
function(opx_relative_dir var from to)
  file(RELATIVE_PATH _rel ${CMAKE_INSTALL_FULL_${from}} ${CMAKE_INSTALL_FULL_${to}})
  if(_rel STREQUAL "")
    set(_rel ".")
  endif()
  set(${var} ${_rel} PARENT_SCOPE)
endfunction()
opx_relative_dir(OPX_BIN_TO_LIB BINDIR LIBDIR)
opx_relative_dir(OPX_LIB_TO_BIN LIBDIR BINDIR)
file(RELATIVE_PATH OPX_BIN_TO_DATA ${CMAKE_INSTALL_FULL_BINDIR}
     ${CMAKE_INSTALL_PREFIX}/${OPX_INSTALL_DATADIR})

# The same paths for the code, as a generated header (platform/install_layout.h).
set(OPX_GENERATED_INCLUDE_DIR ${CMAKE_BINARY_DIR}/generated)
configure_file(${CMAKE_CURRENT_LIST_DIR}/install_layout.h.in
               ${OPX_GENERATED_INCLUDE_DIR}/platform/install_layout.h @ONLY)
add_library(install_layout INTERFACE)
target_include_directories(install_layout INTERFACE ${OPX_GENERATED_INCLUDE_DIR})
