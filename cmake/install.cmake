# What `cmake --install` puts in place (GNUInstallDirs) and the Debian package
# `cpack -G DEB` makes of it. Without the window (BUILD_GUI=OFF) the tools, the
# simulator and their manual pages are installed, and nothing of the window.

# Manual pages: man/NAME.1.in with the version filled in, compressed as Debian
# installs them.
find_program(GZIP_PROGRAM gzip)
set(man_pages digitizer-sim digitizer-dump digitizer-upload)
if(BUILD_GUI)
  list(PREPEND man_pages kestrel32)
endif()
set(man_files)
foreach(page ${man_pages})
  set(source ${CMAKE_SOURCE_DIR}/man/${page}.1.in)
  set(page_file ${CMAKE_BINARY_DIR}/man/${page}.1)
  configure_file(${source} ${page_file} @ONLY)
  if(GZIP_PROGRAM)
    add_custom_command(OUTPUT ${page_file}.gz
      COMMAND ${GZIP_PROGRAM} -9 -n -c ${page_file} > ${page_file}.gz
      DEPENDS ${page_file} ${source}
      COMMENT "Compressing the manual page ${page}.1")
    list(APPEND man_files ${page_file}.gz)
  else()
    list(APPEND man_files ${page_file})
  endif()
endforeach()
add_custom_target(man_pages ALL DEPENDS ${man_files})
install(FILES ${man_files} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

install(TARGETS digitizer-sim digitizer-dump digitizer-upload
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

if(BUILD_GUI)
  install(TARGETS kestrel32 RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${CMAKE_SOURCE_DIR}/data/kestrel32.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  foreach(size 16 32 48 64 128 256)
    install(FILES ${CMAKE_SOURCE_DIR}/data/icons/hicolor/${size}x${size}/apps/kestrel32.png
      DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
  install(FILES ${CMAKE_SOURCE_DIR}/data/icons/kestrel32.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()

# The Debian package: kestrel32_VERSION-REVISION_ARCH.deb, its library dependencies found by
# dpkg-shlibdeps (dpkg-dev).
set(KESTREL_PACKAGE_MAINTAINER "Varnhold <support@varnhold.example>" CACHE STRING
  "Maintainer named in the Debian package")
set(KESTREL_PACKAGE_REVISION "1" CACHE STRING "Debian revision of the package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrel32)
set(CPACK_PACKAGE_VENDOR "${KESTREL_COMPANY_NAME}")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "Monitor and control a six-channel 24-bit seismic digitizer")
set(CPACK_PACKAGE_DESCRIPTION
  "kestrel32 opens the digitizer's serial port, decodes its one-frame-per-second stream and
shows the traces, header values, state of health, GPS, temperature drift and spectra of
every channel; it sets the digitizer's configuration and uploads its firmware.
Beside it: digitizer-dump prints the decoded blocks as lines or JSON, digitizer-upload
uploads firmware without a window, and digitizer-sim simulates a digitizer on a
pseudo-terminal.")
set(CPACK_PACKAGE_CONTACT "${KESTREL_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE "${KESTREL_PACKAGE_REVISION}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KESTREL_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${KESTREL_MAKER_WEB_SITE}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
if(BUILD_GUI)
  # Qt's Wayland platform plugin, for a Wayland session without X11 (the X11 and offscreen
  # plugins come with Qt's GUI library, which dpkg-shlibdeps finds).
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")
endif()
include(CPack)
