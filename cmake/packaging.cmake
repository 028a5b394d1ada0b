# The Debian package, built by CPack's DEB generator from the build folder
# that is already there (scripts/package.sh: configure with the prefix /usr,
# build, cpack). The dependencies on the shared libraries come from
# dpkg-shlibdeps; the maintainer scripts in contrib/debian/ make the
# zamgate user and remove it with the configuration on purge.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zamkt)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "ZAMKT developers")
set(CPACK_PACKAGE_CONTACT "ZAMKT developers <zamkt@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "N2-bus driver, command-line host, simulator and MQTT/Modbus gateway")
set(CPACK_PACKAGE_DESCRIPTION
    "ZAMKT connects hosts to Johnson Controls N2-bus controllers (DX9100, XT9100,
TC9100, N2 Open) through a serial port. The package holds the driver library,
the command-line host zamhost, the bus simulator n2sim and the gateway
zamgate, which publishes every point to MQTT, serves Modbus TCP, Prometheus
metrics and a status page, and runs one instance per bus as zamgate@.service.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# adduser for the maintainer scripts.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "mosquitto")
set(CPACK_STRIP_FILES ON)
# The package installs into /etc and /lib/systemd/system besides /usr.
set(CPACK_SET_DESTDIR ON)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})

set(zamkt_conffiles ${CMAKE_BINARY_DIR}/install/debian/conffiles)
file(WRITE ${zamkt_conffiles} "${ZAMKT_CONFIG_DIR}/example.toml\n${ZAMKT_CONFIG_DIR}/example-gates.csv\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_SOURCE_DIR}/contrib/debian/postinst ${CMAKE_SOURCE_DIR}/contrib/debian/prerm
    ${CMAKE_SOURCE_DIR}/contrib/debian/postrm ${zamkt_conffiles})
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
