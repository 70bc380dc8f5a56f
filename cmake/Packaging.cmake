# Installation and the Debian package (cpack -G DEB, scripts/package-test.sh).
# The program looks for its driver libraries beside itself, so both go to
# one private directory; /usr/bin gets a link to the program.
set(KORVAL_PRIVATE_DIR lib/korval)

if(KORVAL_BUILD_GUI)
  install(TARGETS W_korval RUNTIME DESTINATION ${KORVAL_PRIVATE_DIR})
  file(CREATE_LINK ../${KORVAL_PRIVATE_DIR}/W_korval ${CMAKE_CURRENT_BINARY_DIR}/w_korval SYMBOLIC)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/w_korval DESTINATION bin)
  install(FILES packaging/korval.desktop DESTINATION share/applications)
  install(FILES packaging/korval.svg DESTINATION share/icons/hicolor/scalable/apps)
endif()
install(TARGETS drv_qcom417 drv_qpci417 drv_qpci1417 drv_qusb1417 drv_qlx1417
  LIBRARY DESTINATION ${KORVAL_PRIVATE_DIR})
# korvalctl finds the drivers and the settings file beside itself, as the
# program does; /usr/bin gets a link, as for the program.
install(TARGETS korvalctl RUNTIME DESTINATION ${KORVAL_PRIVATE_DIR})
file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/links)
file(CREATE_LINK ../${KORVAL_PRIVATE_DIR}/korvalctl ${CMAKE_CURRENT_BINARY_DIR}/links/korvalctl SYMBOLIC)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/links/korvalctl DESTINATION bin)
install(FILES docs/korvalctl.1 DESTINATION share/man/man1)
install(FILES docs/korvalctl.md DESTINATION share/doc/korval)
install(TARGETS q417sim RUNTIME DESTINATION bin)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME korval)
set(CPACK_PACKAGE_VENDOR "KORVAL")
set(CPACK_PACKAGE_CONTACT "KORVAL tools <tools@korval.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "Configuration and test utility for KORVAL digital I/O modules")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "Connects to one KORVAL digital input/output module through a COM port,\n\
an ISA or PCI card, a USB or a LAN converter; changes its address, baud\n\
rate and channel configuration and shows its inputs and status live.\n\
Includes stand-in driver libraries (three with a simulated module) and the\n\
module simulator q417sim.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
