# Installation and the Debian package: `make package` runs cpack with the DEB
# generator on a Release build.

# The desktop's name for the program, which the desktop entry and the
# AppStream metadata share.
set(KAV_APP_ID pl.kavedytor.KavEdytor)

# 1.0.0b is a pre-release of 1.0.0. Debian sorts "1.0.0b" after "1.0.0" but
# "1.0.0~b" before it, so the letters go behind a tilde.
string(REGEX REPLACE "^([0-9.]+)([A-Za-z].*)$" "\\1~\\2" KAV_PACKAGE_VERSION "${KAV_VERSION_TEXT}")

configure_file(res/${KAV_APP_ID}.metainfo.xml.in ${KAV_APP_ID}.metainfo.xml @ONLY)
configure_file(res/kav.1.in kav.1 @ONLY)
configure_file(res/debian/changelog.in changelog @ONLY)

# Debian keeps manual pages and changelogs compressed with gzip -9n.
find_program(KAV_GZIP gzip REQUIRED)
foreach(file kav.1 changelog)
  add_custom_command(OUTPUT ${file}.gz
    COMMAND ${KAV_GZIP} -9nkf ${file}
    DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/${file}
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    VERBATIM)
endforeach()
add_custom_target(kav_docs ALL DEPENDS kav.1.gz changelog.gz)

install(TARGETS kav RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES res/${KAV_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${KAV_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
foreach(size 16 24 32 48 64 128 256)
  install(FILES res/icons/kav-${size}.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME kav.png)
endforeach()
install(FILES res/icons/kav.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/kav.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz res/debian/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/kav)
install(FILES res/debian/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME kav)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kav)
set(CPACK_PACKAGE_VERSION ${KAV_PACKAGE_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "editor for plane polylines")
set(CPACK_PACKAGE_DESCRIPTION
  "KAV Edytor is a small desktop editor for plane polylines. Every click adds
a point that joins the previous one, and a click close to a stored point
offers to reuse it, which closes a figure. The points are saved to plain text
files with separators and an order of the user's choice, read back from any
text, listed relative to the centre of the drawing area, undone one by one,
or cleared. It stays quick with millions of points. The interface is Polish.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_VERSION ${KAV_PACKAGE_VERSION})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Zespół KAV <kav@kavedytor.pl>")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://kavedytor.pl/)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The underlay reads WebP, TIFF and SVG through plugins, which no library links.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-image-formats-plugins, libqt6svg6")
# Qt's Polish Yes and No, and its Polish file dialog.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS qt6-translations-l10n)
include(CPack)
