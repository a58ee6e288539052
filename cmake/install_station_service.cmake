# Run by `cmake --install` and cpack (install(CODE) in install.cmake) with the prefix in force
# then: the systemd unit made to run the installed digitizer-station, put in
# PREFIX/lib/systemd/system, and the example configuration in the configuration directory,
# /etc/kestrel32 for the prefixes / and /usr (as GNUInstallDirs has it), PREFIX/etc/kestrel32
# for another. DESTDIR applies to both, as to every other file.
#
# Given: KESTREL_SOURCE_DIR, KESTREL_UNIT_DIR (where the unit is made), KESTREL_BINDIR and
# KESTREL_SYSCONFDIR (relative to the prefix, or absolute).

if(IS_ABSOLUTE "${KESTREL_BINDIR}")
  set(station_bindir "${KESTREL_BINDIR}")
else()
  set(station_bindir "${CMAKE_INSTALL_PREFIX}/${KESTREL_BINDIR}")
endif()
if(IS_ABSOLUTE "${KESTREL_SYSCONFDIR}")
  set(station_etc "${KESTREL_SYSCONFDIR}")
elseif(CMAKE_INSTALL_PREFIX MATCHES "^/(usr/?)?$")
  set(station_etc "/${KESTREL_SYSCONFDIR}")
else()
  set(station_etc "${CMAKE_INSTALL_PREFIX}/${KESTREL_SYSCONFDIR}")
endif()

set(STATION_PROGRAM "${station_bindir}/digitizer-station")
configure_file("${KESTREL_SOURCE_DIR}/data/systemd/digitizer-station@.service.in"
  "${KESTREL_UNIT_DIR}/digitizer-station@.service" @ONLY)
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/lib/systemd/system" TYPE FILE
  FILES "${KESTREL_UNIT_DIR}/digitizer-station@.service")
file(INSTALL DESTINATION "${station_etc}/kestrel32" TYPE FILE
  FILES "${KESTREL_SOURCE_DIR}/data/station.ini")
