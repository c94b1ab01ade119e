# cmake --install: the two programs, their manual pages, and the windowed program's
# desktop entry and icon at every size drawn for it.
include(GNUInstallDirs)

install(TARGETS tarrow-scan RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/cli/tarrow-scan.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

if(TARROW_BUILD_UI)
  install(TARGETS tarrow RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/app/tarrow.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${PROJECT_SOURCE_DIR}/res/desktop/tarrow.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  # Icon 128 as the artwork program draws it at build time (icons/128/NNN.png).
  set(_sizes 16 24 32 48 64 128 256)
  set(_files 016 024 032 048 064 128 256)
  foreach(_size _file IN ZIP_LISTS _sizes _files)
    install(FILES ${PROJECT_BINARY_DIR}/ui/controls/art/icons/128/${_file}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${_size}x${_size}/apps
            RENAME tarrow.png)
  endforeach()
  # The same icon drawn once more, as SVG, for every other size.
  install(FILES ${PROJECT_BINARY_DIR}/ui/controls/art/icons/128/scalable.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps RENAME tarrow.svg)
endif()
