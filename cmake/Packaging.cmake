# Installation and the Debian package: the programs in bin/, the desktop entry and icon in share/.
include(GNUInstallDirs)

install(TARGETS cobalt RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET quill)
  install(TARGETS quill quill-bot quill-sandbox RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ui/quill.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ui/quill.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps)
endif()
install(DIRECTORY examples/ DESTINATION ${CMAKE_INSTALL_DATADIR}/quill/examples FILES_MATCHING PATTERN "*.cbs")

set(CPACK_PACKAGE_NAME quill)
set(CPACK_PACKAGE_VENDOR "The Quill developers")
set(CPACK_PACKAGE_CONTACT "Quill developers <quill@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Desktop bot client for Misskey with the CobaltScript language")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
# The Qt, QtKeychain and QCoro libraries the programs link are found by dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Besides the linked libraries: the platform plugins that open the window. A Secret Service keeps MiAuth
# logins, and the emoji font draws reactions.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "gnome-keyring | kwalletmanager, fonts-noto-color-emoji")
include(CPack)
