# SPDX-License-Identifier: MIT
# What "cmake --install" puts on a Linux machine besides the programs (which install
# themselves from their folders): the desktop entry, icons and AppStream data of the window,
# the manual pages, the udev rule for the FTDI converters, the data folder the desktop entry
# starts the window in, and the sample data set as examples. The Debian package (debian/,
# built with dpkg-buildpackage) installs through the same rules; there is no CPack .deb.
include(GNUInstallDirs)

# The data folder: the desktop entry starts the window here, and the maker's data set (device
# list, firmware files, help and safety texts) goes here. It ships empty: the sample data set
# is installed as examples only, so that a real converter whose serial matched a sample entry
# is never written with the sample firmware. The Debian package points it at
# /usr/local/share/varnoflex-update, made by its postinst (site-specific files do not belong
# under /usr/share), and does not install it.
set(VF_DATA_DIR "${CMAKE_INSTALL_FULL_DATADIR}/varnoflex-update" CACHE PATH
    "The folder the desktop entry starts the window in, for the maker's data set")
option(VF_INSTALL_DATA_DIR "Install the (empty) data folder VF_DATA_DIR" ON)
# Where udev reads the rule: relative paths are below the install prefix. udev reads
# /usr/lib/udev/rules.d and /lib/udev/rules.d (Debian 12's dh_installudev uses the latter),
# and /etc/udev/rules.d for the administrator's own rules; never anything under /usr/local.
set(VF_UDEV_RULES_DIR "lib/udev/rules.d" CACHE STRING
    "Folder for the udev rule (relative: below the install prefix)")
# The simulated unit and the testbed, for trying the programs without a flash unit (the
# Debian package varnoflex-update-testbed).
option(VF_INSTALL_TESTBED "Install vf-sim and vf-testbed" OFF)

if(IS_ABSOLUTE "${VF_UDEV_RULES_DIR}")
  set(vf_udev_rules_full "${VF_UDEV_RULES_DIR}")
else()
  set(vf_udev_rules_full "${CMAKE_INSTALL_PREFIX}/${VF_UDEV_RULES_DIR}")
endif()
if(NOT vf_udev_rules_full MATCHES "^(/usr)?/lib/udev/rules\\.d/?$"
   AND NOT vf_udev_rules_full MATCHES "^/etc/udev/rules\\.d/?$")
  # Without the rule a user outside "dialout" cannot open the port, and ModemManager may
  # probe the converter during an update: say so where the person building will see it.
  message(STATUS "The udev rule installs to ${vf_udev_rules_full}, where udev does not read "
                 "it: copy packaging/60-varnoflex-ftdi.rules to /etc/udev/rules.d "
                 "(or configure with -DCMAKE_INSTALL_PREFIX=/usr)")
endif()

if(TARGET varnoflex-update)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/varnoflex-update.desktop.in
                 ${PROJECT_BINARY_DIR}/packaging/varnoflex-update.desktop @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/packaging/varnoflex-update.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/invalid.varnoflex.update.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  foreach(size 32 48 128 256)
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/icons/hicolor/${size}x${size}/apps/varnoflex-update.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/man/varnoflex-update.1
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
if(TARGET ovk-codec)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/man/ovk-codec.1
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# Access for the logged-in user to the FTDI converters (also used by varnoflex-cli).
install(FILES ${PROJECT_SOURCE_DIR}/packaging/60-varnoflex-ftdi.rules
        DESTINATION ${VF_UDEV_RULES_DIR})

if(VF_INSTALL_DATA_DIR)
  install(DIRECTORY DESTINATION ${VF_DATA_DIR})
endif()
file(GLOB VF_SAMPLE_FILES LIST_DIRECTORIES false ${PROJECT_SOURCE_DIR}/sample/*.ovk
     ${PROJECT_SOURCE_DIR}/sample/*.hex)
install(FILES ${VF_SAMPLE_FILES} DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/varnoflex-update/examples)

if(VF_INSTALL_TESTBED)
  if(NOT TARGET vf-testbed)
    message(FATAL_ERROR "VF_INSTALL_TESTBED needs vf-testbed, which needs umockdev-1.0")
  endif()
  install(TARGETS vf-sim vf-testbed RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
