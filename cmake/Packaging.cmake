# What `cmake --install` puts where, and the Debian package of the front end (CPack). The front
# end and its man page are installed from cli/; scripts/package.sh builds the packages.

if(WIN32)
  # One folder a bitness in the Windows ZIP, the DLL beside the programs. Darvello, the test
  # window, is a component of its own: the ZIP carries only the 32-bit one.
  # The DLL alone: its import library stays out of a full install, nothing links against it.
  install(TARGETS Quorlin
    RUNTIME DESTINATION . COMPONENT runtime
    ARCHIVE DESTINATION lib COMPONENT development EXCLUDE_FROM_ALL)
  install(TARGETS Darvello RUNTIME DESTINATION . COMPONENT testapp)
  return()
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorlin)
set(CPACK_PACKAGE_VENDOR Quorlin)
if(NOT CPACK_PACKAGE_CONTACT)
  set(CPACK_PACKAGE_CONTACT "Quorlin developers <quorlin@localhost>")
endif()
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "read, decode and delete the SMS messages stored in a GSM modem")
set(CPACK_PACKAGE_DESCRIPTION "\
quorlin reads every message stored in a GSM phone or modem on a serial port
(AT commands, PDU mode), decodes it into one line (time stamp, sender, text)
and, on request, deletes the messages it showed in full. It also decodes PDUs
given on the command line.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# Depends from the libraries the program links (libc6, libstdc++6, libgcc-s1), by dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
