# SPDX-License-Identifier: GPL-3.0-or-later
# tonvault_check_release_notes(<version> <metainfo> <changelog>): stops the configuration unless
# the newest release of the AppStream metadata and the top entry of the Debian changelog both
# name <version>.
function(tonvault_check_release_notes version metainfo changelog)
  file(READ ${metainfo} xml)
  string(REGEX MATCH "<release version=\"([^\"]*)\"" ignored "${xml}")
  set(appstream "${CMAKE_MATCH_1}")
  file(STRINGS ${changelog} first LIMIT_COUNT 1)
  string(REGEX MATCH "^[^ ]+ \\(([^)]*)\\)" ignored "${first}")
  set(debian "${CMAKE_MATCH_1}")
  set(problems "")
  if(NOT appstream STREQUAL version)
    string(APPEND problems "\n  ${metainfo}: the newest <release> is \"${appstream}\"")
  endif()
  if(NOT debian STREQUAL version)
    string(APPEND problems "\n  ${changelog}: the top entry is \"${debian}\"")
  endif()
  if(problems)
    message(FATAL_ERROR "The project's version is ${version}, but the release notes are not "
      "written for it:${problems}\nAdd this release's notes at the top of both.")
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${metainfo} ${changelog})
endfunction()
