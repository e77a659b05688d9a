# SPDX-License-Identifier: GPL-3.0-or-later
# The Debian package: `cpack --config build/CPackConfig.cmake` (scripts/package does it with Debian's
# build flags). Included from the top level, where CPack must be set up.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tonvault)
set(CPACK_PACKAGE_VENDOR "Tonvault developers")
set(CPACK_PACKAGE_CONTACT "Tonvault developers <maintainers@users.noreply.c-seed-d150afb0.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "live waterfall of a metal detector's tone")
set(CPACK_PACKAGE_DESCRIPTION
  "Tonvault turns the sound input into a live waterfall picture of the sound,\n\
one column per hertz, so that the tone of a metal detector plugged into the\n\
computer can be read by eye. The picture of a known target can be saved under\n\
a name and shown later beneath the live one.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The program talks to PulseAudio and PipeWire's pulse server itself (libpulse0 comes with the
# shared-library dependencies); where none answers, PortAudio goes through ALSA, whose pulse plugin
# then still reaches a server, so it is a recommendation, not a dependency.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libasound2-plugins")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
