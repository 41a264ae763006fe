# Installation layout and the Debian package (bash scripts/package.sh).
include(GNUInstallDirs)

install(TARGETS parking-station parking-reader-emulator RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/schema/ DESTINATION ${CMAKE_INSTALL_DATADIR}/parking-station/schema)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/prometheus/parking-station.rules.yml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/parking-station/prometheus)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/odbc.ini.example
        DESTINATION ${CMAKE_INSTALL_DATADIR}/parking-station)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/docs/operations.md ${PROJECT_SOURCE_DIR}/docs/status.md
              ${PROJECT_SOURCE_DIR}/docs/readers.md ${PROJECT_SOURCE_DIR}/docs/oracle.md
              ${PROJECT_SOURCE_DIR}/docs/access-rules.md ${PROJECT_SOURCE_DIR}/packaging/copyright
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
# Debian wants the changelog compressed, and byte for byte the same each build.
set(PARKING_CHANGELOG_GZ ${CMAKE_BINARY_DIR}/changelog.gz)
add_custom_command(OUTPUT ${PARKING_CHANGELOG_GZ}
  COMMAND gzip -n -9 -c ${PROJECT_SOURCE_DIR}/packaging/changelog > ${PARKING_CHANGELOG_GZ}
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog)
set(PARKING_MANPAGE_GZ ${CMAKE_BINARY_DIR}/parking-station.1.gz)
add_custom_command(OUTPUT ${PARKING_MANPAGE_GZ}
  COMMAND gzip -n -9 -c ${PROJECT_SOURCE_DIR}/packaging/parking-station.1 > ${PARKING_MANPAGE_GZ}
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/parking-station.1)
set(PARKING_EMULATOR_MANPAGE_GZ ${CMAKE_BINARY_DIR}/parking-reader-emulator.1.gz)
add_custom_command(OUTPUT ${PARKING_EMULATOR_MANPAGE_GZ}
  COMMAND gzip -n -9 -c ${PROJECT_SOURCE_DIR}/packaging/parking-reader-emulator.1 > ${PARKING_EMULATOR_MANPAGE_GZ}
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/parking-reader-emulator.1)
add_custom_target(parking_package_docs ALL DEPENDS ${PARKING_CHANGELOG_GZ} ${PARKING_MANPAGE_GZ} ${PARKING_EMULATOR_MANPAGE_GZ})
install(FILES ${PARKING_CHANGELOG_GZ} DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${PARKING_MANPAGE_GZ} ${PARKING_EMULATOR_MANPAGE_GZ} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# Absolute: the system's own places, whatever the prefix.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/Rivalto.ini DESTINATION /etc/parking-station)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/parking-station.service DESTINATION /lib/systemd/system)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/parking-station-modules.conf DESTINATION /usr/lib/modules-load.d
        RENAME parking-station.conf)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME parking-station)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Parking station developers <parking-station@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "unattended car-park access controller")
set(CPACK_PACKAGE_DESCRIPTION "Runs a car park's entrance and exit barriers from two card readers
(OSDP with Secure Channel) and the facility's management database, with
a journal that keeps every movement through database outages, a systemd
service, and a status page with Prometheus metrics.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "odbc-postgresql, unixodbc")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${PROJECT_SOURCE_DIR}/packaging/conffiles
  ${PROJECT_SOURCE_DIR}/packaging/postinst
  ${PROJECT_SOURCE_DIR}/packaging/prerm
  ${PROJECT_SOURCE_DIR}/packaging/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
