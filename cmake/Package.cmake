# cpack -G DEB: a Debian package of what cmake --install puts under /usr. The library
# dependencies are read from the programs by dpkg-shlibdeps, never written here.
set(CPACK_PACKAGE_NAME ${TARROW_PACKAGE_NAME})
set(CPACK_PACKAGE_VENDOR "The Tarrow developers")
# All four parts: the version the programs report.
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${TARROW_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "how much of your own data would be lost without a backup")
set(CPACK_PACKAGE_DESCRIPTION
    "Quenby scans every fixed drive, sorts each file it finds into Documents,
Images, Music or Video by its extension, and shows per group and in total how
many files were found and how much space they take. tarrow-scan runs the same
scan on the command line.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_SOURCE_GENERATOR "")

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(TARROW_BUILD_UI)
  # Qt loads its window-system plugin at run time, where dpkg-shlibdeps cannot see it;
  # the links open through xdg-open; the details list shows control characters in names
  # as the symbols of U+2400 on, which a font must have; a Wayland session runs the
  # window natively only with Qt's Wayland plugin (else through XWayland).
  # Qt's private interface (ui/CMakeLists.txt) holds only for the Qt build it came from,
  # which Debian's Qt names as qt6-base-abi.
  get_property(_qt_private GLOBAL PROPERTY TARROW_QT_PRIVATE_VERSION)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, qt6-base-abi (= ${_qt_private})")
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
      "qt6-wayland, xdg-utils, fonts-freefont-ttf | fonts-noto-core")
endif()
# The weekly service writes its figures for node_exporter's textfile collector;
# tarrow-scan --backed-up reads the listings of these backup tools. (simdjson, which
# reads them, is a library dpkg-shlibdeps finds.)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "prometheus-node-exporter, restic, borgbackup")

# The weekly scan's units are shipped disabled; these scripts stop them on removal and
# take away what enabling them linked on purge, as Debian does for every unit.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/res/package/postinst ${PROJECT_SOURCE_DIR}/res/package/prerm
    ${PROJECT_SOURCE_DIR}/res/package/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
