# What `cmake --install` and the Debian package put in place: the stripped program, its desktop
# entry, hicolor icons (the SVG and PNGs rendered from it at build time), the AppStream metainfo,
# the man page, the systemd user unit and the package's changelog and copyright. scripts/package.sh builds the package.
include(GNUInstallDirs)

set(share_src ${PROJECT_SOURCE_DIR}/desktop/share)
set(share_out ${PROJECT_BINARY_DIR}/share)
set(id ${VESPERON_APP_ID})

# `install` and cpack build only what they install, not the whole test suite.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

install(TARGETS vesperon RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${share_src}/${id}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${share_src}/${id}.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

configure_file(${share_src}/metainfo.xml.in ${share_out}/${id}.metainfo.xml @ONLY)
install(FILES ${share_out}/${id}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# Generated files; the target vesperon_share makes them (in a second or so).
set(generated)
find_program(VESPERON_RSVG_CONVERT rsvg-convert)
if(VESPERON_RSVG_CONVERT)
  foreach(size 16 24 32 48 64 128 256)
    set(png ${share_out}/icons/${size}x${size}/${id}.png)
    add_custom_command(OUTPUT ${png}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${share_out}/icons/${size}x${size}
      COMMAND ${VESPERON_RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${share_src}/${id}.svg
      DEPENDS ${share_src}/${id}.svg VERBATIM)
    install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
    list(APPEND generated ${png})
  endforeach()
else()
  message(STATUS "rsvg-convert not found (librsvg2-bin): only the SVG icon is installed")
endif()

# Debian wants the man page and the changelog compressed with gzip -9n (no name, no time stamp).
configure_file(${share_src}/vesperon.1 ${share_out}/vesperon.1 @ONLY)
configure_file(${share_src}/changelog.in ${share_out}/changelog @ONLY)
foreach(name vesperon.1 changelog)
  add_custom_command(OUTPUT ${share_out}/${name}.gz
    COMMAND gzip -9nkf ${share_out}/${name}
    DEPENDS ${share_out}/${name} VERBATIM)
  list(APPEND generated ${share_out}/${name}.gz)
endforeach()
install(FILES ${share_out}/vesperon.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
set(docdir ${CMAKE_INSTALL_DATADIR}/doc/vesperon)
install(FILES ${share_out}/changelog.gz ${share_src}/copyright DESTINATION ${docdir})
add_custom_target(vesperon_share ALL DEPENDS ${generated})

# The systemd user unit that plays the session's schedule without a display. It names the program
# where this install puts it (the package's /usr/bin, or the prefix `cmake --install` is given),
# so it is written when installing, not when configuring. share/systemd/user: systemd looks there
# under /usr, /usr/local and ~/.local alike (not in ~/.local/lib/systemd/user).
if(IS_ABSOLUTE "${CMAKE_INSTALL_BINDIR}")
  set(unit_bindir "${CMAKE_INSTALL_BINDIR}")
else()
  set(unit_bindir "\${prefix}/${CMAKE_INSTALL_BINDIR}")
endif()
install(CODE "
  # cpack stages the package under a folder of its own; the package installs to its prefix.
  set(prefix \"\${CMAKE_INSTALL_PREFIX}\")
  if(CPACK_PACKAGING_INSTALL_PREFIX)
    set(prefix \"\${CPACK_PACKAGING_INSTALL_PREFIX}\")
  endif()
  set(CMAKE_INSTALL_FULL_BINDIR \"${unit_bindir}\")
  configure_file(\"${share_src}/vesperon.service.in\" \"${share_out}/vesperon.service\" @ONLY)
")
install(FILES ${share_out}/vesperon.service DESTINATION ${CMAKE_INSTALL_DATADIR}/systemd/user)
# A build of the program alone (run.sh) leaves a tree that `cmake --install` can install.
add_dependencies(vesperon vesperon_share)

# ---- The Debian package ----
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vesperon)
set(CPACK_PACKAGE_VENDOR "The Vesperon developers")
set(CPACK_PACKAGE_CONTACT "Vesperon developers <vesperon@users.noreply.github.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "scheduled MP3 player for the desktop")
# The long description; CPack puts the summary above it and indents each line as Debian wants.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Vesperon plays a playlist of MP3 files during up to five daily
periods: at each start the next track plays, at each end the system volume
fades out and playback stops. Between periods it plays, pauses with a fade,
seeks, skips, shuffles and loops by hand, and answers two global hot keys,
drag and drop and MPRIS.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time, so dpkg-shlibdeps cannot see them: the captions' CJK face, the dialogs'
# Chinese, ALSA's route to PipeWire or PulseAudio, and the native window on Wayland.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wqy-microhei | fonts-noto-cjk, qt6-translations-l10n, libasound2-plugins, qt6-wayland")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)
include(CPack)
