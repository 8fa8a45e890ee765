# Installation of the windowed program's companions (desktop entry, icons, udev rule, the
# data folder it reads from its working directory, the sample data as examples) and the Debian package built by CPack.
# The programs install themselves in their own folders.
include(GNUInstallDirs)

set(VF_DATA_INSTALL_DIR "${CMAKE_INSTALL_FULL_DATADIR}/varnoflex-update")

if(TARGET varnoflex-update)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/varnoflex-update.desktop.in
                 ${PROJECT_BINARY_DIR}/packaging/varnoflex-update.desktop @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/packaging/varnoflex-update.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  foreach(size 32 48 128 256)
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/icons/hicolor/${size}x${size}/apps/varnoflex-update.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
endif()

if(NOT WIN32)
  # Access for the logged-in user to the FTDI converters (also used by varnoflex-cli).
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/60-varnoflex-ftdi.rules
          DESTINATION lib/udev/rules.d)
  # The data folder: the desktop entry starts the program here, and the maker's data set
  # (device list, firmware files, help and safety texts) goes here. It ships empty: the
  # sample data set is installed as examples only, so that a real converter whose serial
  # matched a sample entry is never written with the sample firmware.
  install(DIRECTORY DESTINATION ${CMAKE_INSTALL_DATADIR}/varnoflex-update)
  file(GLOB VF_SAMPLE_FILES LIST_DIRECTORIES false ${PROJECT_SOURCE_DIR}/sample/*.ovk
       ${PROJECT_SOURCE_DIR}/sample/*.hex)
  install(FILES ${VF_SAMPLE_FILES} DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/varnoflex-update/examples)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME varnoflex-update)
set(CPACK_PACKAGE_VENDOR "Varnoflex")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Firmware updater for varnoflex camera flash units")
set(CPACK_PACKAGE_DESCRIPTION
    "Writes new firmware into a varnoflex flash unit connected through its FTDI USB-serial\n converter: a windowed program (varnoflex-update) and a command-line one (varnoflex-cli).")
# The package installs where "make install" does: configure with -DCMAKE_INSTALL_PREFIX=/usr
# for a package (udev reads rules from /usr/lib/udev/rules.d, not from /usr/local).
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Varnoflex update team <update@varnoflex.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "udev")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/debian/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
