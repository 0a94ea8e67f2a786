# Where `cmake --install` (and the Debian packaging) puts things, by the GNU
# directory names. Two components, so a server can take the runner and the
# monitor without Qt:
#   headless  iptv-headless, iptv-monitor, iptv-list, their manual pages and
#             the service template iptv-headless@.service
#   window    iptv-sender, its manual page, desktop entry, icons and metainfo
# Tests, benchmarks and fuzz targets are never installed.
include(GNUInstallDirs)

set(IPTV_APP_ID com.kestavin.IptvSender)

# The manual pages carry the project's version; filled in at configure time.
function(iptv_install_man page component)
  configure_file(${PROJECT_SOURCE_DIR}/man/${page}.in ${PROJECT_BINARY_DIR}/man/${page} @ONLY)
  string(REGEX MATCH "[0-9]$" section ${page})
  install(FILES ${PROJECT_BINARY_DIR}/man/${page}
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section} COMPONENT ${component})
endfunction()

install(TARGETS iptv-headless iptv-monitor iptv-list RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT headless)
iptv_install_man(iptv-headless.1 headless)
iptv_install_man(iptv-monitor.1 headless)
iptv_install_man(iptv-list.1 headless)

if(IPTV_WITH_WINDOW)
  install(TARGETS iptv-sender RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT window)
  iptv_install_man(iptv-sender.1 window)
  install(FILES ${PROJECT_SOURCE_DIR}/data/${IPTV_APP_ID}.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT window)
  install(FILES ${PROJECT_SOURCE_DIR}/data/${IPTV_APP_ID}.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT window)
  # 16 and 32 are the window's own resources; the larger sizes are scaled
  # from them (scripts/scale-icons).
  foreach(size 16 32)
    install(FILES ${PROJECT_SOURCE_DIR}/src/window/resources/iptv-${size}.png
      DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
      RENAME ${IPTV_APP_ID}.png COMPONENT window)
  endforeach()
  foreach(size 48 64 128 256)
    install(FILES ${PROJECT_SOURCE_DIR}/data/icons/iptv-${size}.png
      DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
      RENAME ${IPTV_APP_ID}.png COMPONENT window)
  endforeach()
endif()

# The runner's service template (iptv-headless@NAME.service), for systemd.
set(IPTV_SYSTEMD_UNIT_DIR "lib/systemd/system" CACHE STRING
  "where the systemd unit goes, relative to the install prefix unless absolute")
install(FILES ${PROJECT_SOURCE_DIR}/data/iptv-headless@.service
  DESTINATION ${IPTV_SYSTEMD_UNIT_DIR} COMPONENT headless)
