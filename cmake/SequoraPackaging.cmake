# `cpack -G DEB` in a build folder: a Debian package of the player and its two tools,
# installed under /usr. The library dependencies are worked out by dpkg-shlibdeps from
# the binaries, so linking a new Qt module needs no change here.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME sequora)
set(CPACK_PACKAGE_VENDOR "Sequora developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Sequora developers <sequora@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "MIDI playlist player with a CD-player front panel")
# Lines as they show in the package's control file.
set(CPACK_PACKAGE_DESCRIPTION
  "Sequora plays a list of Standard MIDI Files like a CD player plays a disc:
a black display with the track number and the time, transport buttons, and
straight, random, continuous or 15-second intro play with elapsed or remaining
time. The playlist is built in an editor with drive, folder and file lists.
The user interface is Japanese.

Sound comes from Sequora's own MIDI engine through the FluidSynth soft synth
and a General MIDI soundfont, or through an ALSA sequencer port.

The package also holds sequora-mci, which sends device command strings to the
engine from the command line, and sequora-render, which renders a MIDI file to
a WAV file.")
set(CPACK_PACKAGE_INSTALL_DIRECTORY sequora)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_NAME sequora)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://sequora.example.org/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The soft synth needs a General MIDI soundfont at the distribution's default path
# (both packages provide it), the windows are laid out for IPA Gothic, and Qt's own
# dialogs and buttons read Japanese with Qt's translations.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "fluid-soundfont-gm | timgm6mb-soundfont, fonts-ipafont-gothic, qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# The package's documents: the licences of everything it installs, in Debian's
# machine-readable form, and the changelog every Debian package carries (one entry
# for this version; SOURCE_DATE_EPOCH fixes its date for a reproducible build).
install(FILES packaging/copyright DESTINATION share/doc/sequora)
find_program(SEQUORA_GZIP gzip)
if(SEQUORA_GZIP)
  string(TIMESTAMP SEQUORA_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
  configure_file(packaging/changelog.in changelog @ONLY)
  # -n: no name or time stamp in the gzip header, so the same text gives the same bytes.
  execute_process(COMMAND ${SEQUORA_GZIP} -9nc ${CMAKE_CURRENT_BINARY_DIR}/changelog
    OUTPUT_FILE ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz COMMAND_ERROR_IS_FATAL ANY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz DESTINATION share/doc/sequora)
endif()

include(CPack)
