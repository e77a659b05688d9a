# SPDX-License-Identifier: GPL-3.0-or-later
# The Windows package: a zip that unpacks into one folder holding tonvault.exe, the DLLs it needs,
# Qt's platform plugin and the sample library (scripts/package-windows).
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Tonvault)
set(CPACK_PACKAGE_VENDOR "Tonvault developers")
set(CPACK_PACKAGE_FILE_NAME Tonvault-${PROJECT_VERSION}-windows-x86_64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
