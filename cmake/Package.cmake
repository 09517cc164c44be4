# Installation into /usr and the Debian package (scripts/package): the program, the systemd units
# and the sample station (init-station carries its own copy; this one is for people to read).
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)  # installing builds only what is installed
install(FILES ${PROJECT_SOURCE_DIR}/share/systemd/halvik@.service
              ${PROJECT_SOURCE_DIR}/share/systemd/halvik-elements@.service
              ${PROJECT_SOURCE_DIR}/share/systemd/halvik-elements@.timer
        DESTINATION lib/systemd/system)
install(FILES ${PROJECT_SOURCE_DIR}/share/sysusers.d/halvik.conf DESTINATION lib/sysusers.d)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/share/station/ DESTINATION share/halvik/station
        USE_SOURCE_PERMISSIONS)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME halvik)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Unattended HRPT weather-satellite ground station")
set(CPACK_PACKAGE_CONTACT "Halvik NT maintainers <halvik@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The status view draws text, also headless.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-dejavu-core")
# The services run as a system user that the package creates (systemd-sysusers, from systemd).
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/deb/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_OUTPUT_FILE_PREFIX ${PROJECT_BINARY_DIR}/packages)
include(CPack)
