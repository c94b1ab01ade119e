# cmake --install: the two programs, their manual pages, and the windowed program's
# desktop entry and icon at every size drawn for it; tarrow-scan's JSON schema, bash
# completion and weekly systemd service (installed, not enabled).
include(GNUInstallDirs)

install(TARGETS tarrow-scan RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/cli/tarrow-scan.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The schema of tarrow-scan --json, for readers that check what they get.
install(FILES ${PROJECT_SOURCE_DIR}/cli/tarrow-scan.schema.json
        DESTINATION ${CMAKE_INSTALL_DATADIR}/tarrow)

# Where bash-completion and systemd look, as their pkg-config files say; for another
# prefix than theirs (~/.local, a test's), the same folders below it.
find_package(PkgConfig QUIET)
function(tarrow_pkg_dir out package variable fallback)
  set(_dir "")
  if(PKG_CONFIG_FOUND)
    pkg_get_variable(_prefix ${package} prefix)
    if(_prefix STREQUAL CMAKE_INSTALL_PREFIX)
      pkg_get_variable(_dir ${package} ${variable})
    endif()
  endif()
  if(_dir STREQUAL "")
    set(_dir ${fallback})
  endif()
  set(${out} ${_dir} PARENT_SCOPE)
endfunction()
tarrow_pkg_dir(_completions bash-completion completionsdir
               ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
tarrow_pkg_dir(_units systemd systemdsystemunitdir lib/systemd/system)
set(TARROW_BASH_COMPLETION_DIR ${_completions} CACHE PATH "Where the bash completion goes")
set(TARROW_SYSTEMD_UNIT_DIR ${_units} CACHE PATH "Where the systemd units go")
set(TARROW_TEXTFILE_DIR /var/lib/prometheus/node-exporter CACHE PATH
    "The folder of node_exporter's textfile collector, which the weekly scan writes into")

install(FILES ${PROJECT_SOURCE_DIR}/cli/tarrow-scan.bash-completion
        DESTINATION ${TARROW_BASH_COMPLETION_DIR} RENAME tarrow-scan)

# The service names the installed program, whatever prefix the install is given.
install(CODE "
  set(TARROW_BINDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
  set(TARROW_TEXTFILE_DIR \"${TARROW_TEXTFILE_DIR}\")
  configure_file(${PROJECT_SOURCE_DIR}/cli/systemd/tarrow-scan.service.in
                 ${PROJECT_BINARY_DIR}/systemd/tarrow-scan.service @ONLY)")
install(FILES ${PROJECT_BINARY_DIR}/systemd/tarrow-scan.service
              ${PROJECT_SOURCE_DIR}/cli/systemd/tarrow-scan.timer
        DESTINATION ${TARROW_SYSTEMD_UNIT_DIR})

if(TARROW_BUILD_UI)
  install(TARGETS tarrow RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/app/tarrow.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${PROJECT_SOURCE_DIR}/res/desktop/tarrow.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  # Icon 128 as the artwork program draws it at build time (icons/128/NNN.png).
  set(_sizes 16 24 32 48 64 128 256)
  set(_files 016 024 032 048 064 128 256)
  foreach(_size _file IN ZIP_LISTS _sizes _files)
    install(FILES ${PROJECT_BINARY_DIR}/ui/art/icons/128/${_file}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${_size}x${_size}/apps
            RENAME tarrow.png)
  endforeach()
endif()
