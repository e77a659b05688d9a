# SPDX-License-Identifier: GPL-3.0-or-later
# licenses\ of the zip and the installer: Tonvault's own licence and those of the Qt and mingw-w64
# runtime DLLs that ship beside it, as the LGPL and the runtime libraries' licences ask of whoever
# passes them on. The texts are the Debian packages' copyright files the cross build uses.
get_filename_component(toolchain_dir "${CMAKE_TOOLCHAIN_FILE}" DIRECTORY)
set(licence_files
  "Tonvault-GPL-3.0-or-later.txt=${PROJECT_SOURCE_DIR}/LICENSE"
  "README.txt=${PROJECT_SOURCE_DIR}/packaging/windows/licenses/README.txt"
  "Qt-copyright.txt=/usr/share/doc/libqt6core6/copyright"
  "Qt-LGPL-3.0.txt=/usr/share/common-licenses/LGPL-3"
  "Qt-patches.diff=${toolchain_dir}/qt-patches.diff"
  "gcc-runtime-copyright.txt=/usr/share/doc/gcc-mingw-w64-base/copyright"
  "mingw-w64-copyright.txt=/usr/share/doc/mingw-w64-x86-64-dev/copyright")
foreach(pair IN LISTS licence_files)
  string(REPLACE "=" ";" pair "${pair}")
  list(GET pair 0 name)
  list(GET pair 1 source)
  if(NOT EXISTS "${source}")
    message(FATAL_ERROR "The Windows packages must carry ${source} as licenses/${name}, but it is "
      "missing (scripts/deps windows installs the packages that hold it).")
  endif()
  install(FILES "${source}" DESTINATION licenses RENAME "${name}")
endforeach()
