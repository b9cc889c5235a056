# What gets installed, and the packages CPack makes of it: on Linux the Debian package
# quorvex_<version>_amd64.deb (scripts/package), in the Windows build the NSIS installer
# quorvex-cli-<version>-win64.exe. The package is described here once, by install() rules;
# nothing is assembled by hand.
include(GNUInstallDirs)

set(CPACK_VERBATIM_VARIABLES ON)  # the description quotes the instrument's name
set(CPACK_PACKAGE_NAME quorvex)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})  # all four parts, not only the first three
set(CPACK_PACKAGE_VENDOR Quorvex)
set(CPACK_PACKAGE_CONTACT "Quorvex developers <quorvex@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware programmer for the ЗЕЛТАР-R52 VX 8 scanner")
# Lines under 80 characters: the control file keeps them as they are.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "Quorvex writes firmware into the 64 flash sectors of the diagnostic scanner\n"
       "\"ЗЕЛТАР-R52 VX 8\" over a serial line, lists what each sector holds and clears\n"
       "a sector's information block. The package holds the operator's window\n"
       "(quorvex, in Russian), the same commands for terminals and scripts\n"
       "(quorvex-cli) and a simulated instrument (quorvex-sim) to try everything\n"
       "without hardware. Using a serial port needs membership of the group dialout.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/packaging/copyright)
set(CPACK_STRIP_FILES ON)

if(WIN32)
  # Both programs directly in their folder under Program Files, the window with the DLLs,
  # plugins and translations it needs beside it (worked out from the programs' imports at
  # install time), a Start-menu shortcut "Quorvex" for the window, and an uninstaller; /S
  # installs and uninstalls without a question.
  install(TARGETS quorvex-cli RUNTIME DESTINATION .)
  set(CPACK_PACKAGE_FILE_NAME quorvex-cli-${PROJECT_VERSION}-win64)
  if(TARGET quorvex)
    install(TARGETS quorvex RUNTIME DESTINATION .)
    quorvex_install_windows_runtime_of(. quorvex)
    set(CPACK_PACKAGE_FILE_NAME quorvex-${PROJECT_VERSION}-win64)
    set(CPACK_PACKAGE_EXECUTABLES quorvex Quorvex)
    set(CPACK_NSIS_EXECUTABLES_DIRECTORY .)
    set(CPACK_NSIS_INSTALLED_ICON_NAME quorvex.exe)
    set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/packaging/quorvex.ico)
    set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/packaging/quorvex.ico)
  endif()
  set(CPACK_GENERATOR NSIS)
  set(CPACK_PACKAGE_INSTALL_DIRECTORY Quorvex)
  set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY Quorvex)
  set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
  set(CPACK_NSIS_PACKAGE_NAME "Quorvex ${PROJECT_VERSION}")
  set(CPACK_NSIS_DISPLAY_NAME "Quorvex ${PROJECT_VERSION}")
  # A 64-bit installer: Debian's makensis builds 32-bit ones unless told, and a 64-bit Wine
  # runs only 64-bit programs.
  set(CPACK_NSIS_DEFINES "  Target amd64-unicode")
else()
  set(programs quorvex-cli)
  foreach(program quorvex quorvex-sim)
    if(TARGET ${program})
      list(APPEND programs ${program})
    endif()
  endforeach()
  install(TARGETS ${programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

  # Manual pages carry the version; Debian wants them, and the changelog, compressed with
  # no time stamp inside.
  set(compressed)
  foreach(page ${programs} changelog)
    if(page STREQUAL "changelog")
      set(source ${PROJECT_SOURCE_DIR}/packaging/changelog)
      set(output ${PROJECT_BINARY_DIR}/packaging/changelog.gz)
    else()
      set(source ${PROJECT_BINARY_DIR}/packaging/${page}.1)
      configure_file(packaging/${page}.1.in ${source} @ONLY)
      set(output ${source}.gz)
    endif()
    add_custom_command(
      OUTPUT ${output}
      COMMAND gzip -9n -c ${source} > ${output}
      DEPENDS ${source}
      VERBATIM)
    list(APPEND compressed ${output})
  endforeach()
  add_custom_target(quorvex_package_files ALL DEPENDS ${compressed})
  list(FILTER compressed EXCLUDE REGEX "changelog")
  install(FILES ${compressed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${PROJECT_BINARY_DIR}/packaging/changelog.gz packaging/copyright
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/quorvex)
  if(TARGET quorvex)
    install(FILES packaging/quorvex.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    install(FILES packaging/quorvex.svg
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  endif()

  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # The libraries the programs need, found by dpkg-shlibdeps, not listed by hand.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  if(TARGET quorvex)
    # The window's own dialogs and buttons are Russian only through Qt's translations, which
    # no library links to: a dependency added to the computed ones, so that an installation
    # without recommended packages still speaks Russian.
    set(CPACK_DEBIAN_PACKAGE_DEPENDS qt6-translations-l10n)
  endif()
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()

include(CPack)
