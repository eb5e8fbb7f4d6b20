# The Debian packages of the Linux build, made by `cpack` in the build folder
# (`make deb`) from the install rules, whose components name the packages:
#   desktop   -> tavren3           the tray program, its desktop entry, icons,
#                                  help page and AppStream metadata
#   headless  -> tavren3-headless  the watcher alone and its systemd user unit
# Each holds its manual pages (English and Japanese), copyright and changelog.
include(GNUInstallDirs)

set(TAVREN_DEB_REVISION 1)
set(TAVREN_DEB_VERSION ${PROJECT_VERSION}-${TAVREN_DEB_REVISION})
set(_res ${PROJECT_SOURCE_DIR}/res)
set(_out ${CMAKE_BINARY_DIR}/packaging)

# Manual pages and changelogs are installed compressed, as Debian wants them;
# gzip -n leaves the time stamp out, so the bytes depend on the text alone.
configure_file(${_res}/debian/changelog.in ${_out}/changelog.Debian @ONLY)
set(_compressed)
function(tavren_gzip source output)
    add_custom_command(OUTPUT ${output}
        COMMAND sh -c "gzip -9n -c \"$1\" >\"$2\"" sh ${source} ${output}
        DEPENDS ${source} VERBATIM)
    set(_compressed ${_compressed} ${output} PARENT_SCOPE)
endfunction()
tavren_gzip(${_out}/changelog.Debian ${_out}/changelog.Debian.gz)

foreach(program tavren3 tavren3-headless)
    if(program STREQUAL "tavren3")
        set(component desktop)
    else()
        set(component headless)
    endif()
    foreach(lang en ja)
        if(lang STREQUAL "en")
            set(page ${_res}/man/${program}.1)
            set(section man1)
        else()
            set(page ${_res}/man/${lang}/${program}.1)
            set(section ${lang}/man1)
        endif()
        tavren_gzip(${page} ${_out}/man/${section}/${program}.1.gz)
        install(FILES ${_out}/man/${section}/${program}.1.gz
                DESTINATION ${CMAKE_INSTALL_MANDIR}/${section} COMPONENT ${component})
    endforeach()
    install(FILES ${_res}/debian/copyright ${_out}/changelog.Debian.gz
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${program} COMPONENT ${component})

    # Removal names a watcher that still runs from the program, and how to
    # end it.
    set(TAVREN_PRERM_PROGRAM /usr/${CMAKE_INSTALL_BINDIR}/${program})
    if(program STREQUAL "tavren3")
        set(TAVREN_PRERM_HINT "end it from its icon's menu (終了)")
    else()
        set(TAVREN_PRERM_HINT "end it with systemctl --user stop tavren3-headless as its user")
    endif()
    configure_file(${_res}/debian/prerm.in ${_out}/${component}/prerm @ONLY)
    string(TOUPPER ${component} _COMPONENT)
    set(CPACK_DEBIAN_${_COMPONENT}_PACKAGE_CONTROL_EXTRA ${_out}/${component}/prerm)
endforeach()
add_custom_target(tavren_packaging_files ALL DEPENDS ${_compressed})

# The user unit names the program by its installed path, known only when
# installing (the packages install into /usr, a plain `cmake --install`
# into CMAKE_INSTALL_PREFIX). systemd looks for user units in
# <prefix>/lib/systemd/user for /usr and /usr/local alike.
install(CODE "
    set(TAVREN_BINDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    set(_unit \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/lib/systemd/user/tavren3-headless.service\")
    message(STATUS \"Installing: \${_unit}\")
    configure_file(\"${_res}/tavren3-headless.service.in\" \"\${_unit}\" @ONLY)
    file(CHMOD \"\${_unit}\" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
" COMPONENT headless)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tavren3)
set(CPACK_PACKAGE_VENDOR "Tavren3 developers")
set(CPACK_PACKAGE_CONTACT "Tavren3 developers <tavren3-devel@example.org>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE ${TAVREN_DEB_REVISION})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # name_version-revision_arch.deb
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Installed into DESTDIR with the prefix /usr, so that what the install code
# writes (the unit's program path) names /usr, not the staging folder.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The libraries each package needs are read from its program by dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL desktop headless)
set(CPACK_DEBIAN_DESKTOP_PACKAGE_NAME tavren3)
set(CPACK_DEBIAN_HEADLESS_PACKAGE_NAME tavren3-headless)
# Qt loads its display plugin (xcb, wayland) at run time, so no library
# dependency names it; xdg-open opens the help page and watched files, and
# Qt's own Japanese texts are in the translations.
set(CPACK_DEBIAN_DESKTOP_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_DESKTOP_PACKAGE_RECOMMENDS "xdg-utils, qt6-translations-l10n")
# The tray program runs the same watcher (`tavren3 --headless`); the other
# package adds only the user service, so it is suggested, not required.
set(CPACK_DEBIAN_DESKTOP_PACKAGE_SUGGESTS "tavren3-headless")
set(CPACK_DEBIAN_DESKTOP_DESCRIPTION "folder watcher in the notification area
Tavren3 watches up to 200 folders from an icon in the notification area.
For each file that is created, renamed, deleted or updated and matches
an entry's pattern, it beeps or plays a sound, shows a message, opens the
file or starts a program, and can move the file to another folder.
The user interface is Japanese.")
set(CPACK_DEBIAN_HEADLESS_DESCRIPTION "folder watcher without a display
The watch engine of Tavren3 alone, for servers and other machines without
a desktop: it reads the watch entries of its settings file and prints one
line on standard output for each message the tray program would show.
It links no graphical library.
.
A systemd user unit runs it for a user: SIGHUP (systemctl --user reload)
reads the settings again, SIGTERM stops it.")
include(CPack)
