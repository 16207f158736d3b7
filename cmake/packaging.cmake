# What goes onto the device, as a .deb and as a .tar.gz to unpack at /:
#
#   /home/corvane/TessalyUpdater/bin/TessalyUpdater   the service
#   /home/corvane/TessalyUpdater/bin/tessaly-peer     for watching it by hand
#   /home/corvane/TessalyUpdater/bin/tessaly-boot-guard   puts back what a power
#                                                     cut can leave, at boot
#   /lib/systemd/system/tessaly-updater.service       their units, enabled on
#   /lib/systemd/system/tessaly-boot-guard.service    install
#
# Built with "cpack" in a build folder (make package, make cross-package).
# Only the "device" and "deb" components are packed, so install rules for the
# build machine (tests, tessaly-pack, the plain "make install") never reach a
# package; both are left out of a plain "cmake --install" for the same reason
# in reverse.

set(TESSALY_DEVICE_BINDIR "home/corvane/TessalyUpdater/bin")
install(TARGETS TessalyUpdater tessaly-peer
    RUNTIME DESTINATION ${TESSALY_DEVICE_BINDIR} COMPONENT device EXCLUDE_FROM_ALL)
install(PROGRAMS ${CMAKE_CURRENT_LIST_DIR}/../tools/tessaly-boot-guard
    DESTINATION ${TESSALY_DEVICE_BINDIR} COMPONENT device EXCLUDE_FROM_ALL)
# Debian's place for units that come with a package; /etc/systemd/system is
# the administrator's.
install(FILES ${CMAKE_CURRENT_LIST_DIR}/../deploy/tessaly-updater.service
    ${CMAKE_CURRENT_LIST_DIR}/../deploy/tessaly-boot-guard.service
    DESTINATION lib/systemd/system COMPONENT device EXCLUDE_FROM_ALL)

# What Debian asks of every package, in the .deb only: the copyright file, a
# changelog and the reasons for the lintian tags the fixed layout causes.
set(TESSALY_DEB_DOCDIR "usr/share/doc/tessaly-updater")
string(TIMESTAMP TESSALY_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog
    "tessaly-updater (${PROJECT_VERSION}) stable; urgency=medium\n\n"
    "  * TessalyUpdater ${PROJECT_VERSION}.\n\n"
    " -- Corvane <updater@corvane.example>"
    "  ${TESSALY_CHANGELOG_DATE}\n")
execute_process(COMMAND gzip -9nf ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog
    RESULT_VARIABLE gzip_result)
if(NOT gzip_result EQUAL 0)
    message(FATAL_ERROR "gzip failed on the package's changelog")
endif()
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog.gz
    ${CMAKE_CURRENT_LIST_DIR}/../deploy/debian/copyright
    DESTINATION ${TESSALY_DEB_DOCDIR} COMPONENT deb EXCLUDE_FROM_ALL)
# What an operator copies into place to relax the unit's protections.
install(FILES ${CMAKE_CURRENT_LIST_DIR}/../deploy/tessaly-updater-relax.conf
    DESTINATION ${TESSALY_DEB_DOCDIR}/examples COMPONENT deb EXCLUDE_FROM_ALL)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/../deploy/debian/lintian-overrides
    DESTINATION usr/share/lintian/overrides RENAME tessaly-updater
    COMPONENT deb EXCLUDE_FROM_ALL)

set(CPACK_PACKAGE_NAME tessaly-updater)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Tessaly")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "software-update service of the Tessaly e-paper device")
set(CPACK_PACKAGE_DESCRIPTION
    "TessalyUpdater takes update requests from the Tessaly application through\n"
    "System V shared-memory mailboxes, downloads the package over HTTP(S),\n"
    "installs it and reports the outcome. Includes tessaly-peer, which plays the\n"
    "application's side of the mailboxes for checking the service by hand.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGE_CONTACT "Corvane <updater@corvane.example>")

set(CPACK_GENERATOR DEB TGZ)
set(CPACK_PACKAGING_INSTALL_PREFIX "/")
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL device deb)
# The archive holds the device's files only (see tgz-components.cmake).
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/tgz-components.cmake)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
# The archive unpacks as it is at / on the device, with no folder around it.
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)

# Debian names architectures its own way; a cross build says which it is
# for, a native one is what dpkg on this machine calls itself.
if(CMAKE_CROSSCOMPILING AND CMAKE_LIBRARY_ARCHITECTURE STREQUAL "arm-linux-gnueabihf")
    set(TESSALY_DEB_ARCHITECTURE armhf)
else()
    execute_process(COMMAND dpkg --print-architecture
        OUTPUT_VARIABLE TESSALY_DEB_ARCHITECTURE OUTPUT_STRIP_TRAILING_WHITESPACE)
endif()
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${TESSALY_DEB_ARCHITECTURE})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_ARCHIVE_FILE_NAME "${CPACK_PACKAGE_NAME}_${PROJECT_VERSION}_${TESSALY_DEB_ARCHITECTURE}")
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Named by hand: dpkg-shlibdeps needs the target architecture's dpkg
# database, which a cross build deliberately does not have. The versions are
# those of the Qt, C and C++ libraries the program is built against (Debian 12);
# init-system-helpers enables the unit from postinst.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libc6 (>= 2.34), libgcc-s1 (>= 3.0), libstdc++6 (>= 5), libqt5core5a (>= 5.15.1), libqt5network5 (>= 5.15.1), init-system-helpers (>= 1.52)")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_LIST_DIR}/../deploy/debian/postinst
    ${CMAKE_CURRENT_LIST_DIR}/../deploy/debian/prerm
    ${CMAKE_CURRENT_LIST_DIR}/../deploy/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
