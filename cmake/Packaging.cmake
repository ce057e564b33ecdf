# Install rules and the Debian package. `scripts/package` configures a build for it and runs
# cpack; `cmake --install` with another prefix installs the same tree.
include(GNUInstallDirs)

set(tarvo_package tarvo-workbench)
set(tarvo_packaging ${CMAKE_CURRENT_SOURCE_DIR}/packaging)
set(tarvo_doc ${CMAKE_INSTALL_DATAROOTDIR}/doc/${tarvo_package})

install(TARGETS tarvo-workbench tarvo-cli k310-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# Stripped as Debian's own packages are (dh_strip): no symbols, no compiler banners, no notes.
if(CMAKE_STRIP)
  foreach(program tarvo-workbench tarvo-cli k310-sim)
    install(CODE "execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note
                    --strip-unneeded \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${program}\"
                    COMMAND_ERROR_IS_FATAL ANY)")
  endforeach()
endif()
# The workbench in the desktop's program menu, with its own icon.
install(FILES ${tarvo_packaging}/tarvo-workbench.desktop DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
install(FILES ${tarvo_packaging}/tarvo-workbench.svg
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/scalable/apps)
# The adapter's port for the person at the desk, and kept from ModemManager. udev looks in /lib
# whatever the prefix, and uaccess acts only for rules read before 73-seat-late.
install(FILES ${tarvo_packaging}/70-tarvo-k310-7k.rules DESTINATION /lib/udev/rules.d)

# Debian wants the changelog and the man pages compressed, without a time stamp in the gzip
# header so that two builds of one version give the same package.
find_program(TARVO_GZIP gzip REQUIRED)
set(tarvo_generated ${CMAKE_CURRENT_BINARY_DIR}/packaging)
add_custom_command(
  OUTPUT ${tarvo_generated}/changelog.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${tarvo_generated}
  COMMAND ${TARVO_GZIP} -9nc ${tarvo_packaging}/changelog > ${tarvo_generated}/changelog.gz
  DEPENDS ${tarvo_packaging}/changelog
  VERBATIM)
set(tarvo_package_files ${tarvo_generated}/changelog.gz)

# Man pages from the programs' own --help and --version, so they cannot drift from the programs.
# Sanitized and fuzzing builds make no package and need not run their programs at build time.
find_program(TARVO_HELP2MAN help2man)
if(TARVO_HELP2MAN AND NOT TARVO_SANITIZE AND NOT TARVO_FUZZ)
  set(tarvo_man_names
      "tarvo-workbench|commission and test Tarvo encoders through a K310-7K USB adapter"
      "tarvo-cli|talk to a K310-7K adapter and a Tarvo encoder from the command line"
      "k310-sim|simulated K310-7K adapter with a Tarvo encoder on a pseudo-terminal")
  # tarvo-cli's own --help lists its subcommands; the --help of each goes into its page as a
  # SUBCOMMANDS section, from an include file made from the program at build time.
  find_program(TARVO_BASH bash REQUIRED)
  set(tarvo_cli_include ${tarvo_generated}/tarvo-cli.h2m)
  add_custom_command(
    OUTPUT ${tarvo_cli_include}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${tarvo_generated}
    COMMAND ${TARVO_BASH} ${CMAKE_CURRENT_SOURCE_DIR}/cmake/cli-man-subcommands.sh $<TARGET_FILE:tarvo-cli>
            ${tarvo_cli_include}
    DEPENDS tarvo-cli ${CMAKE_CURRENT_SOURCE_DIR}/cmake/cli-man-subcommands.sh
    VERBATIM)
  foreach(entry IN LISTS tarvo_man_names)
    string(REPLACE "|" ";" entry "${entry}")
    list(GET entry 0 program)
    list(GET entry 1 summary)
    set(page ${tarvo_generated}/${program}.1.gz)
    set(include_args)
    set(include_files)
    if(program STREQUAL "tarvo-cli")
      set(include_args --include=${tarvo_cli_include})
      set(include_files ${tarvo_cli_include})
    endif()
    add_custom_command(
      OUTPUT ${page}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${tarvo_generated}
      COMMAND ${TARVO_HELP2MAN} --no-info --section=1 --name=${summary} ${include_args}
              --output=${tarvo_generated}/${program}.1 $<TARGET_FILE:${program}>
      COMMAND ${TARVO_GZIP} -9nf ${tarvo_generated}/${program}.1
      DEPENDS ${program} ${include_files}
      VERBATIM)
    list(APPEND tarvo_package_files ${page})
    install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endforeach()
else()
  message(STATUS "help2man not found (or an instrumented build): no man pages")
endif()
add_custom_target(package_files ALL DEPENDS ${tarvo_package_files})

install(FILES ${tarvo_packaging}/copyright ${tarvo_generated}/changelog.gz DESTINATION ${tarvo_doc})
install(FILES ${tarvo_packaging}/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides
        RENAME ${tarvo_package})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${tarvo_package})
set(CPACK_PACKAGE_VERSION ${TARVO_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "workbench for Tarvo SPI encoders on a K310-7K USB adapter")
set(CPACK_PACKAGE_DESCRIPTION_FILE ${tarvo_packaging}/description)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# A native package: its version is the program's, the changelog is packaging/changelog.
set(CPACK_DEBIAN_PACKAGE_VERSION ${TARVO_VERSION})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Tarvo workbench developers <tarvo-workbench@example.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://example.org/tarvo-workbench")
# The libraries (Qt 6, QCustomPlot, the C++ runtime) come from dpkg-shlibdeps. What is loaded at
# run time without being linked needs naming: the Qt platform plugins (xcb, wayland, offscreen)
# and the design's font.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-wine")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
