# cmake --install: the two programs, their manual pages, the copyright and changelog a
# Debian package carries, and the windowed program's desktop entry, AppStream metadata
# and icon at every size drawn for it, all named by the application id; tarrow-scan's
# JSON schema, bash completion and weekly systemd service (installed, not enabled).
include(GNUInstallDirs)

# Debian's name for the package and its documentation folder.
set(TARROW_PACKAGE_NAME tarrow)
set(TARROW_PACKAGE_MAINTAINER "Tarrow developers <packages@tarrow.invalid>" CACHE STRING
    "Maintainer of the Debian package and author of its changelog")

# Manual pages and the changelog go in compressed, as a package must carry them; man
# and zless read them so from any prefix. -n keeps time and name out: the same sources
# give the same bytes.
find_program(TARROW_GZIP gzip REQUIRED)
function(tarrow_gzip source output)
  add_custom_command(OUTPUT ${output}
    COMMAND ${TARROW_GZIP} -9nc ${source} > ${output}
    DEPENDS ${source} VERBATIM)
endfunction()

set(_docs ${PROJECT_BINARY_DIR}/doc)
set(_pages ${PROJECT_SOURCE_DIR}/cli/tarrow-scan.1)
if(TARROW_BUILD_UI)
  list(APPEND _pages ${PROJECT_SOURCE_DIR}/app/tarrow.1)
endif()
set(_compressed)
foreach(_page IN LISTS _pages)
  get_filename_component(_name ${_page} NAME)
  tarrow_gzip(${_page} ${_docs}/${_name}.gz)
  list(APPEND _compressed ${_docs}/${_name}.gz)
endforeach()

# A Debian changelog of the one release; its date in RFC 2822 form at noon UTC.
execute_process(COMMAND date -u -R -d "${TARROW_RELEASE_DATE} 12:00"
                OUTPUT_VARIABLE TARROW_RELEASE_DATE_RFC2822 OUTPUT_STRIP_TRAILING_WHITESPACE
                COMMAND_ERROR_IS_FATAL ANY)
configure_file(${PROJECT_SOURCE_DIR}/res/package/changelog.in ${_docs}/changelog @ONLY)
tarrow_gzip(${_docs}/changelog ${_docs}/changelog.gz)
add_custom_target(tarrow_docs ALL DEPENDS ${_compressed} ${_docs}/changelog.gz)

install(TARGETS tarrow-scan RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${_compressed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/res/package/copyright ${_docs}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${TARROW_PACKAGE_NAME})

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
  install(FILES ${PROJECT_BINARY_DIR}/res/desktop/${TARROW_APP_ID}.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${PROJECT_BINARY_DIR}/res/desktop/${TARROW_APP_ID}.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  # Icon 128 as the artwork program draws it at build time (icons/128/NNN.png).
  set(_sizes 16 24 32 48 64 128 256)
  set(_files 016 024 032 048 064 128 256)
  foreach(_size _file IN ZIP_LISTS _sizes _files)
    install(FILES ${PROJECT_BINARY_DIR}/ui/controls/art/icons/128/${_file}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${_size}x${_size}/apps
            RENAME ${TARROW_APP_ID}.png)
  endforeach()
  # The same icon drawn once more, as SVG, for every other size.
  install(FILES ${PROJECT_BINARY_DIR}/ui/controls/art/icons/128/scalable.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
          RENAME ${TARROW_APP_ID}.svg)
endif()
