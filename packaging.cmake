# Installation and the Debian package (cpack -G DEB).
include(GNUInstallDirs)

install(TARGETS sensortrim hubctl hubtable fwlogtap fwlogsetup hubsim devicesim hubop
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The device shim is preloaded into the tools, never linked: a library of the package's own.
install(TARGETS hubsim_shim LIBRARY DESTINATION lib/tessary)
install(PROGRAMS scripts/with-hub scripts/hubsim-start DESTINATION ${CMAKE_INSTALL_BINDIR})
install(PROGRAMS calreport/calreport.py DESTINATION ${CMAKE_INSTALL_BINDIR} RENAME calreport)
# Its package, where the script looks for it (<prefix>/lib/tessary/python), and the run record's schema.
install(DIRECTORY calreport/tessary_report DESTINATION lib/tessary/python PATTERN "__pycache__" EXCLUDE)
install(FILES calreport/run-record.schema.json DESTINATION ${CMAKE_INSTALL_DATADIR}/tessary)
install(DIRECTORY examples/ DESTINATION ${CMAKE_INSTALL_DATADIR}/tessary/examples)

# Manual pages, compressed as Debian keeps them.
set(tessary_man_pages sensortrim hubctl hubtable fwlogtap fwlogsetup calreport hubsim)
set(tessary_man_outputs)
foreach(page ${tessary_man_pages})
  set(source ${PROJECT_SOURCE_DIR}/man/${page}.1)
  set(output ${PROJECT_BINARY_DIR}/man/${page}.1.gz)
  add_custom_command(OUTPUT ${output}
                     COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
                     COMMAND gzip -9 -n -c ${source} > ${output}
                     DEPENDS ${source} VERBATIM)
  list(APPEND tessary_man_outputs ${output})
endforeach()
add_custom_target(man_pages ALL DEPENDS ${tessary_man_outputs})
install(FILES ${tessary_man_outputs} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# hubsim's page also covers the scripts and devicesim.
foreach(alias with-hub hubsim-start devicesim)
  install(CODE "file(CREATE_LINK hubsim.1.gz \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_MANDIR}/man1/${alias}.1.gz\" SYMBOLIC)")
endforeach()

# Bash completion, loaded on demand by the command's name.
foreach(tool sensortrim hubctl hubtable fwlogtap fwlogsetup calreport)
  install(FILES completion/tessary.bash DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
          RENAME ${tool})
endforeach()

# The package ships its binaries stripped; build it from a Release tree (README).
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tessary-tools)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Tessary host tools team <tools@tessary.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Host tools of the Tessary sensor hub")
set(CPACK_PACKAGE_DESCRIPTION
    "sensortrim (sensor calibration), hubctl and hubtable (hub service), fwlogtap and fwlogsetup (firmware trace), calreport (calibration reports) and hubsim (the emulated hub).")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libtinyxml2.6.2v5, libstdc++6, libc6, libgcc-s1, python3, python3-matplotlib, python3-numpy")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "python3-psycopg2")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "bash-completion, man-db")
include(CPack)
