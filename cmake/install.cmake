# What `cmake --install` puts in place (GNUInstallDirs) and the Debian packages `cpack -G DEB`
# makes of it, one per install component:
# - station (package kestrel32-station, no Qt): digitizer-station, digitizer-dump,
#   digitizer-upload, digitizer-sim, their manual pages, the systemd unit
#   digitizer-station@.service and the example configuration /etc/kestrel32/station.ini;
# - window (package kestrel32, only with BUILD_GUI): the window kestrel32, its manual page,
#   desktop entry and icons; it depends on kestrel32-station of exactly its own version.
# `cmake --install` without --component installs both.

# Manual pages: man/NAME.1.in with the version filled in, compressed as Debian
# installs them.
find_program(GZIP_PROGRAM gzip)
set(station_man_pages digitizer-station digitizer-sim digitizer-dump digitizer-upload)
set(window_man_pages)
if(BUILD_GUI)
  set(window_man_pages kestrel32)
endif()
set(man_files)
foreach(page ${station_man_pages} ${window_man_pages})
  set(source ${CMAKE_SOURCE_DIR}/man/${page}.1.in)
  set(page_file ${CMAKE_BINARY_DIR}/man/${page}.1)
  configure_file(${source} ${page_file} @ONLY)
  if(GZIP_PROGRAM)
    add_custom_command(OUTPUT ${page_file}.gz
      COMMAND ${GZIP_PROGRAM} -9 -n -c ${page_file} > ${page_file}.gz
      DEPENDS ${page_file} ${source}
      COMMENT "Compressing the manual page ${page}.1")
    set(page_file ${page_file}.gz)
  endif()
  list(APPEND man_files ${page_file})
  if(page IN_LIST station_man_pages)
    set(component station)
  else()
    set(component window)
  endif()
  install(FILES ${page_file} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${component})
endforeach()
add_custom_target(man_pages ALL DEPENDS ${man_files})

install(TARGETS digitizer-station digitizer-sim digitizer-dump digitizer-upload
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT station)

# The systemd unit and the example configuration. Their places and the program the unit runs
# follow the prefix in force when installing (cpack installs with the prefix /usr whatever the
# build was configured with): with /usr the unit goes to /usr/lib/systemd/system, runs
# /usr/bin/digitizer-station, and the configuration is /etc/kestrel32/station.ini, the file
# the program reads; with another prefix both stay under it (/usr/local/lib/systemd/system,
# /usr/local/etc/kestrel32/station.ini).
install(CODE "
  set(KESTREL_SOURCE_DIR \"${CMAKE_SOURCE_DIR}\")
  set(KESTREL_UNIT_DIR \"${CMAKE_BINARY_DIR}/systemd\")
  set(KESTREL_BINDIR \"${CMAKE_INSTALL_BINDIR}\")
  set(KESTREL_SYSCONFDIR \"${CMAKE_INSTALL_SYSCONFDIR}\")
  include(\"${CMAKE_SOURCE_DIR}/cmake/install_station_service.cmake\")
  " COMPONENT station)

if(BUILD_GUI)
  install(TARGETS kestrel32 RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT window)
  install(FILES ${CMAKE_SOURCE_DIR}/data/kestrel32.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT window)
  foreach(size 16 32 48 64 128 256)
    install(FILES ${CMAKE_SOURCE_DIR}/data/icons/hicolor/${size}x${size}/apps/kestrel32.png
      DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps COMPONENT window)
  endforeach()
  install(FILES ${CMAKE_SOURCE_DIR}/data/icons/kestrel32.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT window)
endif()

# The Debian packages: kestrel32-station_VERSION-REVISION_ARCH.deb and, with the window,
# kestrel32_VERSION-REVISION_ARCH.deb, each with its library dependencies found by
# dpkg-shlibdeps (dpkg-dev).
set(KESTREL_PACKAGE_MAINTAINER "Varnhold <support@varnhold.example>" CACHE STRING
  "Maintainer named in the Debian package")
set(KESTREL_PACKAGE_REVISION "2" CACHE STRING "Debian revision of the packages")
# 1.1.4.0-1 is the one package kestrel32 that held everything, which an upgrade must replace:
# the two packages of that version are 1.1.4.0-2 at least, also in a build directory that
# kept the earlier default in its cache.
if(PROJECT_VERSION VERSION_EQUAL 1.1.4.0 AND KESTREL_PACKAGE_REVISION STREQUAL "1")
  message(STATUS "Debian revision 1 of ${PROJECT_VERSION} is the package from before the split: using 2")
  set(KESTREL_PACKAGE_REVISION "2" CACHE STRING "Debian revision of the packages" FORCE)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrel32)
set(CPACK_PACKAGE_VENDOR "${KESTREL_COMPANY_NAME}")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_CONTACT "${KESTREL_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE "${KESTREL_PACKAGE_REVISION}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KESTREL_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${KESTREL_MAKER_WEB_SITE}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# The station: the service with the command-line tools and the simulator. Its maintainer
# scripts make the system user kestrel32 (adduser) and its directories; the configuration is
# a conffile, kept on upgrades and removed on purge only.
set(CPACK_COMPONENT_STATION_DISPLAY_NAME "kestrel32-station")
set(CPACK_DEBIAN_STATION_PACKAGE_NAME kestrel32-station)
set(CPACK_DEBIAN_STATION_PACKAGE_DEPENDS "adduser")
# Up to 1.1.4.0-1 the package kestrel32 held the tools and the simulator too: the station
# package takes their files over from it, and an old kestrel32 is upgraded with it.
set(CPACK_DEBIAN_STATION_PACKAGE_REPLACES "kestrel32 (<< 1.1.4.0-2~)")
set(CPACK_DEBIAN_STATION_PACKAGE_BREAKS "kestrel32 (<< 1.1.4.0-2~)")
set(CPACK_DEBIAN_STATION_DESCRIPTION
  "Record a six-channel 24-bit seismic digitizer unattended
digitizer-station records the samples and state of health of the digitizer on a serial
port into a miniSEED archive (SDS layout by default), as a systemd service with one
instance per digitizer (digitizer-station@ttyUSB0), running as the system user
kestrel32. It waits for a device that goes away and comes back, and keeps writing
through a full disk when space returns.
Beside it: digitizer-dump prints the decoded blocks as lines or JSON, digitizer-upload
uploads firmware without a window, and digitizer-sim simulates a digitizer on a
pseudo-terminal. Nothing here needs a display or Qt.")
if(IS_ABSOLUTE "${CMAKE_INSTALL_SYSCONFDIR}")
  set(station_conffile "${CMAKE_INSTALL_SYSCONFDIR}/kestrel32/station.ini")
else()
  set(station_conffile "/${CMAKE_INSTALL_SYSCONFDIR}/kestrel32/station.ini")
endif()
file(WRITE ${CMAKE_BINARY_DIR}/debian/station/conffiles "${station_conffile}\n")
set(CPACK_DEBIAN_STATION_PACKAGE_CONTROL_EXTRA
  ${CMAKE_BINARY_DIR}/debian/station/conffiles
  ${CMAKE_SOURCE_DIR}/data/debian/station/postinst
  ${CMAKE_SOURCE_DIR}/data/debian/station/prerm
  ${CMAKE_SOURCE_DIR}/data/debian/station/postrm)

# The window, on top of the station package of exactly its own version.
set(CPACK_COMPONENT_WINDOW_DISPLAY_NAME "kestrel32")
set(CPACK_COMPONENT_WINDOW_DEPENDS station)
set(CPACK_DEBIAN_WINDOW_PACKAGE_NAME kestrel32)
set(CPACK_DEBIAN_WINDOW_DESCRIPTION
  "Monitor and control a six-channel 24-bit seismic digitizer
kestrel32 opens the digitizer's serial port, decodes its one-frame-per-second stream and
shows the traces, header values, state of health, GPS, temperature drift and spectra of
every channel; it sets the digitizer's configuration and uploads its firmware.
The recording service and the command-line tools are in kestrel32-station.")
# Qt's Wayland platform plugin, for a Wayland session without X11 (the X11 and offscreen
# plugins come with Qt's GUI library, which dpkg-shlibdeps finds).
set(CPACK_DEBIAN_WINDOW_PACKAGE_RECOMMENDS "qt6-wayland")

if(BUILD_GUI)
  set(CPACK_COMPONENTS_ALL station window)
else()
  set(CPACK_COMPONENTS_ALL station)
endif()
include(CPack)
