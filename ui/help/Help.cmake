# SPDX-License-Identifier: MIT
# Included by ui/CMakeLists.txt after vexalo_ui is defined: the Help menu's
# pictures and the version that the About window shows.

# Listed through qt_add_resources so that the pictures are registered on their
# own, even from a static library.
qt_add_resources(vexalo_ui vexalo_help_art
    PREFIX /vexalo/help
    BASE ${CMAKE_CURRENT_LIST_DIR}/art
    FILES
        ${CMAKE_CURRENT_LIST_DIR}/art/banner.png
        ${CMAKE_CURRENT_LIST_DIR}/art/icon-viewer-16.png
        ${CMAKE_CURRENT_LIST_DIR}/art/icon-viewer-32.png
        ${CMAKE_CURRENT_LIST_DIR}/art/icon-viewer-48.png
        ${CMAKE_CURRENT_LIST_DIR}/art/icon-about-16.png
        ${CMAKE_CURRENT_LIST_DIR}/art/icon-about-32.png
        ${CMAKE_CURRENT_LIST_DIR}/art/icon-about-48.png)

# The main window wears the program's own icon: the very PNGs installed for
# the desktop, so the title bar and the application menu cannot differ.
set(vexalo_app_icons "")
foreach(size IN LISTS VEXALO_ICON_SIZES)
    list(APPEND vexalo_app_icons ${VEXALO_ICON_DIR}/${size}x${size}/apps/${VEXALO_APP_ID}.png)
endforeach()
qt_add_resources(vexalo_ui vexalo_app_icon
    PREFIX /vexalo/icon
    BASE ${VEXALO_ICON_DIR}
    FILES ${vexalo_app_icons})

# One source for the version: the project() line.
set_property(SOURCE ${CMAKE_CURRENT_LIST_DIR}/frmAbout.cpp APPEND PROPERTY COMPILE_DEFINITIONS
    VEXALO_VERSION_MAJOR=${PROJECT_VERSION_MAJOR}
    VEXALO_VERSION_MINOR=${PROJECT_VERSION_MINOR}
    VEXALO_VERSION_PATCH=${PROJECT_VERSION_PATCH})
