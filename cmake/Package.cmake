# The Debian package: `cpack -G DEB` in a build folder (./run.sh package), after the build.
#
# One package, opxkit, holds everything that `cmake --install` puts under /usr. Its run-time
# dependencies are computed by dpkg-shlibdeps from the programs and libraries themselves.
set(OPX_PACKAGE_CONTACT "opxkit developers <opxkit@packages.invalid>" CACHE STRING
    "The Maintainer of the Debian package")

# The copyright file that Debian wants in /usr/share/doc/PACKAGE: it says what is known. The
# project has no licence file yet; when one is added (LICENSE or COPYING), its text is taken.
set(_licence_text)
foreach(_licence LICENSE LICENSE.md LICENSE.txt COPYING)
  if(EXISTS ${CMAKE_SOURCE_DIR}/${_licence} AND NOT _licence_text)
    file(READ ${CMAKE_SOURCE_DIR}/${_licence} _licence_text)
  endif()
endforeach()
if(_licence_text)
  string(REGEX REPLACE "\n\n" "\n.\n" _licence_text "${_licence_text}")
  string(REGEX REPLACE "\n([^\n])" "\n \\1" _licence_text "${_licence_text}")
  set(OPX_COPYRIGHT_LICENCE "License: see below\n ${_licence_text}")
else()
  set(OPX_COPYRIGHT_LICENCE "License: not-stated\n The source tree of opxkit holds no licence file, and no licence has been\n stated for it yet.")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/copyright.in ${CMAKE_BINARY_DIR}/packaging/copyright @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/packaging/copyright DESTINATION ${OPX_INSTALL_DOCDIR})

# A changelog entry for this build (Debian wants one for every package), compressed as
# dpkg-deb expects: gzip -9 without a name or time in its header.
string(TIMESTAMP OPX_PACKAGE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog.in ${CMAKE_BINARY_DIR}/packaging/changelog.Debian @ONLY)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/packaging/changelog.Debian.gz
  COMMAND gzip -9 -n -f -k ${CMAKE_BINARY_DIR}/packaging/changelog.Debian
  DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog.Debian
  VERBATIM)
add_custom_target(package_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog.Debian.gz)
install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.Debian.gz DESTINATION ${OPX_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME opxkit)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# The Debian revision: the package's version is the project's, with revision 1.
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_PACKAGE_CONTACT "${OPX_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_VENDOR "opxkit")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "workstation toolkit for IBM z/OS data")
# The long description, in lines of at most 80 columns (a blank line between paragraphs).
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "Tools for data that comes from or goes to an IBM z/OS mainframe: TSO TRANSMIT"
  "files, unloaded partitioned data sets, load modules, object decks, update decks"
  "and the code pages they are written in."
  ""
  "The command-line programs opx (read and extract transmit files), bren (build"
  "them), ufx (the update utility), vrl (the linkage editor) and cpconv (code page"
  "conversion); the window programs opxwin (transmit files) and Pelda (an"
  "assembler source editor); and the core libraries with their C headers.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The programs find the libraries through $ORIGIN/../lib; dpkg-shlibdeps looks there too.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CPACK_PACKAGING_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR})
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# ldconfig through its trigger rather than CPack's maintainer scripts (cmake/DebTriggers.cmake).
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/DebTriggers.cmake)
include(CPack)
