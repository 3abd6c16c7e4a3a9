# Run by CPack after it has made the Debian package (CPACK_POST_BUILD_SCRIPTS).
#
# CPack gives a package with libraries under /usr/lib a postinst and a postrm that call
# ldconfig. Debian does this with the ldconfig trigger instead, and a package with a postrm
# stays behind as "config-files" after dpkg -r until it is purged. So the package is unpacked,
# its two scripts are replaced by the trigger, and it is packed again.
find_program(_dpkg_deb dpkg-deb REQUIRED)
foreach(_deb IN LISTS CPACK_PACKAGE_FILES)
  if(NOT _deb MATCHES "\\.deb$")
    continue()
  endif()
  set(_tree ${_deb}.tree)
  file(REMOVE_RECURSE ${_tree})
  execute_process(COMMAND ${_dpkg_deb} -R ${_deb} ${_tree} COMMAND_ERROR_IS_FATAL ANY)
  foreach(_script postinst postrm)
    if(EXISTS ${_tree}/DEBIAN/${_script})
      file(READ ${_tree}/DEBIAN/${_script} _text)
      # Only CPack's own ldconfig scripts go; anything else would be a script of ours.
      string(REGEX REPLACE "[ \t\n]" "" _bare "${_text}")
      if(NOT _bare MATCHES "^#!/bin/shset-eif\\[\"\\$1\"=\"(configure|remove)\"\\];thenldconfigfi$")
        message(FATAL_ERROR "${_script} does more than call ldconfig:\n${_text}")
      endif()
      file(REMOVE ${_tree}/DEBIAN/${_script})
    endif()
  endforeach()
  file(WRITE ${_tree}/DEBIAN/triggers "activate-noawait ldconfig\n")
  file(CHMOD ${_tree}/DEBIAN/triggers PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  execute_process(COMMAND ${_dpkg_deb} --root-owner-group -Zxz -b ${_tree} ${_deb}
                  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE ${_tree})
endforeach()
