# The Debian package of the Linux programs: `cpack -G DEB` in a build tree
# configured with -DCMAKE_INSTALL_PREFIX=/usr (so the udev rule lands in
# /usr/lib/udev/rules.d). Runtime dependencies come from dpkg-shlibdeps.
if(WIN32 OR NOT VESPRA_BUILD_APPS)
    return()
endif()

include(GNUInstallDirs)
set(VESPRA_DEBIAN_DIR ${CMAKE_SOURCE_DIR}/app/linux/debian)
set(VESPRA_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/vespra-updater)

# Debian's copyright file and changelog go with every install, not only the package.
# Program and packaging share one tree and one version, so this is a native
# package: its changelog is changelog.gz, not changelog.Debian.gz.
configure_file(${VESPRA_DEBIAN_DIR}/changelog.in ${CMAKE_BINARY_DIR}/packaging/changelog @ONLY)
add_custom_command(
    OUTPUT ${CMAKE_BINARY_DIR}/packaging/changelog.gz
    COMMAND gzip -9nc ${CMAKE_BINARY_DIR}/packaging/changelog
            > ${CMAKE_BINARY_DIR}/packaging/changelog.gz
    DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog
    VERBATIM)
add_custom_target(vespra_debian_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
install(FILES ${VESPRA_DEBIAN_DIR}/copyright ${CMAKE_BINARY_DIR}/packaging/changelog.gz
        DESTINATION ${VESPRA_DOC_DIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vespra-updater)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR TAVELIN)
set(CPACK_PACKAGE_CONTACT "TAVELIN <support@tavelin.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware updater for the VESPRA 80 LV speed controller")
set(CPACK_PACKAGE_DESCRIPTION
    "Writes firmware ${PROJECT_VERSION} into a VESPRA 80 LV electric-motor speed controller
through its USB programming unit (DIALPOD or LINK-CUBE). One dialog finds the
unit, shows the unit's and the controller's firmware versions and follows
plugging and unplugging. A udev rule gives the user at the seat access to the
unit. vespra-updater-sim shows the same dialog over a simulated unit.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "TAVELIN <support@tavelin.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.tavelin.example/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${VESPRA_DEBIAN_DIR}/postinst ${VESPRA_DEBIAN_DIR}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
