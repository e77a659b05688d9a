# SPDX-License-Identifier: GPL-3.0-or-later
# cmake -DFROM=<folder> -DTO=<folder> -P copy_missing.cmake
# Copies into TO every file of FROM that TO does not have yet. A file already in TO is left alone:
# in the build tree TO is a live sample library, and a sample saved there under a shipped name (even
# "default noise") is the user's, not ours to replace on the next build.
file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${FROM}" "${FROM}/*")
file(GLOB_RECURSE folders LIST_DIRECTORIES true RELATIVE "${FROM}" "${FROM}/*")
file(MAKE_DIRECTORY "${TO}")
foreach(f IN LISTS folders)
  if(IS_DIRECTORY "${FROM}/${f}")
    file(MAKE_DIRECTORY "${TO}/${f}")
  endif()
endforeach()
foreach(f IN LISTS files)
  if(NOT EXISTS "${TO}/${f}")
    file(COPY_FILE "${FROM}/${f}" "${TO}/${f}")
  endif()
endforeach()
