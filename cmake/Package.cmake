# SPDX-License-Identifier: MIT
# `make package` (cpack -G DEB): a Debian package of the install tree, whose
# library dependencies dpkg-shlibdeps reads from the two executables.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vexalo4)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Vexalo authors")
set(CPACK_PACKAGE_CONTACT "The Vexalo authors <author@vexalo.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "find a text in a set of files and replace it in one batch")
set(CPACK_PACKAGE_DESCRIPTION "Vexalo finds a piece of text in a set of files and replaces it with
another, in one batch, from a desktop window or from the command line
(vexalo4-cli). Files are rewritten through a temporary copy, so each is
either its old or its new content; backups can be kept and restored.")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://vexalo.example/")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time, so no linker records them: the window needs a platform
# plugin to open at all, and Qt's own dialogs speak the user's language only
# with Qt's translations.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
include(CPack)
