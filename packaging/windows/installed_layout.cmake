# SPDX-License-Identifier: GPL-3.0-or-later
# Run by cpack once the files are staged, before it packs them. The zip keeps the portable layout
# (metals\ beside tonvault.exe, where the program keeps its samples). The installer gets the
# installed one: the program and everything it loads in bin\, the shipped sample in
# share\tonvault\metals\, where the installed program looks for it to seed each user's library.
if(NOT CPACK_GENERATOR STREQUAL "NSIS")
  return()
endif()
set(stage "${CPACK_TEMPORARY_DIRECTORY}")
file(GLOB entries RELATIVE "${stage}" "${stage}/*")
file(MAKE_DIRECTORY "${stage}/bin" "${stage}/share/tonvault")
foreach(entry IN LISTS entries)
  if(entry STREQUAL "metals")
    file(RENAME "${stage}/metals" "${stage}/share/tonvault/metals")
  elseif(NOT entry STREQUAL "licenses")
    file(RENAME "${stage}/${entry}" "${stage}/bin/${entry}")
  endif()
endforeach()
