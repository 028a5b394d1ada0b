# Install rules: `cmake --install build` (prefix /usr/local), or the Debian
# package (cmake/packaging.cmake, prefix /usr). The installed programs need
# nothing from the build folder:
#   bin/zamhost, bin/n2sim, sbin/zamgate
#   lib/zamkt/libzamkt.so, lib/zamkt/libqorpro.so   (the driver finds the
#       logging library beside it through RUNPATH $ORIGIN; the programs load
#       the driver from ../lib/zamkt/ seen from their own folder)
#   share/man/man1/zamhost.1.gz, n2sim.1.gz, share/man/man8/zamgate.8.gz
#   share/doc/zamkt/   README, guides, examples, the port-502 drop-in
#   etc/zamgate/       an example gateway and its gate list (/etc/zamgate
#                      for the prefix /usr)
#   the unit zamgate@.service (/lib/systemd/system for the prefix /usr)

# cpack and `cmake --install` install what was built; they do not build
# every test first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

# The programs load the driver from beside themselves (the build folder) or
# else from the private library folder, found relative to their own.
file(RELATIVE_PATH ZAMKT_DRIVER_DIR_FROM_BINDIR ${CMAKE_INSTALL_FULL_BINDIR}
     ${CMAKE_INSTALL_PREFIX}/${ZAMKT_INSTALL_PRIVATE_LIBDIR})
file(RELATIVE_PATH zamkt_from_sbindir ${CMAKE_INSTALL_FULL_SBINDIR}
     ${CMAKE_INSTALL_PREFIX}/${ZAMKT_INSTALL_PRIVATE_LIBDIR})
if(NOT zamkt_from_sbindir STREQUAL ZAMKT_DRIVER_DIR_FROM_BINDIR)
  message(FATAL_ERROR "bin and sbin must lie at the same depth: the programs find the driver relative to them")
endif()
set_source_files_properties(${CMAKE_SOURCE_DIR}/host/common/driver_library.cpp
  DIRECTORY ${CMAKE_SOURCE_DIR}/host/common
  PROPERTIES COMPILE_DEFINITIONS "ZAMKT_DRIVER_DIR_FROM_PROGRAM=\"${ZAMKT_DRIVER_DIR_FROM_BINDIR}\"")

if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  # Debian 12 keeps the units of packages in /lib/systemd/system.
  set(ZAMKT_UNIT_DIR /lib/systemd/system)
else()
  set(ZAMKT_UNIT_DIR ${CMAKE_INSTALL_PREFIX}/lib/systemd/system)
endif()
set(ZAMKT_CONFIG_DIR ${CMAKE_INSTALL_FULL_SYSCONFDIR}/zamgate)
set(ZAMKT_DOC_DIR ${CMAKE_INSTALL_FULL_DATAROOTDIR}/doc/zamkt)
set(ZAMKT_SBIN_DIR ${CMAKE_INSTALL_FULL_SBINDIR})

# The programs load the driver by its full path and link none of the
# libraries: they need no RUNPATH once installed.
set_target_properties(zamhost n2sim zamgate PROPERTIES INSTALL_RPATH "")
install(TARGETS zamhost n2sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS zamgate RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR})
install(TARGETS zamkt qorpro LIBRARY DESTINATION ${ZAMKT_INSTALL_PRIVATE_LIBDIR})

# The unit names the installed paths.
configure_file(${CMAKE_SOURCE_DIR}/contrib/zamgate@.service ${CMAKE_BINARY_DIR}/install/zamgate@.service @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/install/zamgate@.service DESTINATION ${ZAMKT_UNIT_DIR})

install(FILES ${CMAKE_SOURCE_DIR}/contrib/example.toml DESTINATION ${ZAMKT_CONFIG_DIR})
install(FILES ${CMAKE_SOURCE_DIR}/examples/gates.csv DESTINATION ${ZAMKT_CONFIG_DIR} RENAME example-gates.csv)

# Manual pages, compressed as Debian wants them (gzip -9n: no name, no time).
set(zamkt_man_pages zamhost.1 n2sim.1 zamgate.8)
set(zamkt_man_outputs)
foreach(page ${zamkt_man_pages})
  set(out ${CMAKE_BINARY_DIR}/install/man/${page}.gz)
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/install/man
    COMMAND sh -c "gzip -9n -c \"$1\" > \"$2\"" gzip ${CMAKE_SOURCE_DIR}/contrib/man/${page} ${out}
    DEPENDS ${CMAKE_SOURCE_DIR}/contrib/man/${page}
    VERBATIM)
  list(APPEND zamkt_man_outputs ${out})
  string(REGEX REPLACE ".*\\.([0-9])$" "\\1" section ${page})
  install(FILES ${out} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endforeach()
add_custom_target(zamkt_man ALL DEPENDS ${zamkt_man_outputs})

# The guides and examples; a Debian package also carries its copyright and
# changelog there.
install(FILES README.md docs/zamgate.md docs/zamhost.md docs/simulator.md docs/driver.md docs/RELIABILITY.md
              docs/PERFORMANCE.md
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/zamkt)
install(FILES examples/gates.csv examples/zamgate.toml examples/zamgate-modbus.toml contrib/modbus-port-502.conf
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/zamkt/examples)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/install/changelog.gz
  COMMAND sh -c "gzip -9n -c \"$1\" > \"$2\"" gzip ${CMAKE_SOURCE_DIR}/contrib/debian/changelog
          ${CMAKE_BINARY_DIR}/install/changelog.gz
  DEPENDS ${CMAKE_SOURCE_DIR}/contrib/debian/changelog
  VERBATIM)
add_custom_target(zamkt_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/install/changelog.gz)
install(FILES contrib/debian/copyright ${CMAKE_BINARY_DIR}/install/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/zamkt)
