# The Debian package, made by CPack from the install rules beside this file.
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright DESTINATION share/doc/torqa)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME torqa)
set(CPACK_PACKAGE_VERSION 0.1.0)
set(CPACK_PACKAGE_VENDOR Torqa)
set(TORQA_DEB_MAINTAINER "Torqa developers <torqa@localhost>" CACHE STRING
    "Maintainer of the .deb, as \"Name <address>\"")
set(CPACK_PACKAGE_CONTACT ${TORQA_DEB_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "MIDI file player with its own sound unit")
set(CPACK_PACKAGE_DESCRIPTION
    "Torqa plays Standard MIDI Files (format 0 and 1, also RMI) through plug-in
sound units, mixes the sixteen channels with its own 3D widening, reverb,
chorus and band filter, and plays them on the sound device or records them
to WAV files. Its unit, vokraunit, plays sampled instruments from sound sets;
the default set is made from freepats. torqa-cli renders and plays songs
from a terminal.")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# The linked libraries come from dpkg-shlibdeps; SDL is opened at run time,
# the IPA fonts are asked for by name, so neither shows in the binaries.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libsdl2-2.0-0, fonts-ipafont-gothic, fonts-ipafont-mincho")
# The packages that own the sound sets' links are added when the package is
# made, so a set added to PLUGIN/VOKRA/ brings its own dependency.
set(CPACK_TORQA_VOKRA_DIR ${TORQA_PLUGIN_DIR}/VOKRA)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/link_depends.cmake)
include(CPack)

# Debian wants a changelog even in a package made from its own source.
configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog.in ${CMAKE_CURRENT_BINARY_DIR}/changelog @ONLY)
torqa_gzip(${CMAKE_CURRENT_BINARY_DIR}/changelog ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)
add_custom_target(torqa_changelog ALL DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz DESTINATION share/doc/torqa)
