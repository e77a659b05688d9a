# SPDX-License-Identifier: GPL-3.0-or-later
# The Windows packages, from the same installed files:
#  - `cpack -G ZIP`: a zip that unpacks into one folder holding tonvault.exe, the DLLs it needs,
#    Qt's plugins, the sample library in metals\ and licenses\; run from there, it keeps the
#    samples beside itself (a portable copy);
#  - `cpack -G NSIS`: Tonvault-<version>-windows-x86_64-setup.exe (makensis), which installs the
#    program into bin\ and the shipped sample into share\tonvault\metals\, so the installed program
#    keeps each user's samples in %APPDATA%\Tonvault\ (NSIS.template.in).
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Tonvault)
set(CPACK_PACKAGE_VENDOR "Tonvault developers")
set(CPACK_PACKAGE_FILE_NAME Tonvault-${PROJECT_VERSION}-windows-x86_64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)

set(CPACK_PACKAGE_INSTALL_DIRECTORY Tonvault)
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY Tonvault)
set(CPACK_NSIS_PACKAGE_NAME Tonvault)
set(CPACK_NSIS_DISPLAY_NAME Tonvault)
set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/packaging/windows/tonvault.ico)
set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/packaging/windows/tonvault.ico)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
# CPack takes the installer's script from a file of this name on the module path.
list(PREPEND CMAKE_MODULE_PATH ${PROJECT_SOURCE_DIR}/packaging/windows)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/packaging/windows/cpack_generator.cmake)
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/packaging/windows/installed_layout.cmake)

include(${PROJECT_SOURCE_DIR}/packaging/windows/licenses.cmake)
include(CPack)
