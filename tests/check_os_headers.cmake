# SPDX-License-Identifier: GPL-3.0-or-later
# Fails when an operating-system header is included outside platform/sound/ and platform/system/
# (the window toolkit needs none). Their tests and those of the Linux sound backends (tests/audio)
# may use them to capture stderr.
# Links are not followed (a wine prefix beside the sources links to the whole disk), and build
# trees are not entered at all: they hold other projects' headers.
cmake_policy(SET CMP0009 NEW)
file(GLOB tops RELATIVE ${ROOT} LIST_DIRECTORIES true ${ROOT}/*)
set(files "")
foreach(top ${tops})
  if(top MATCHES "^(build[^/]*|out|\\.git)$")
    continue()
  endif()
  if(IS_DIRECTORY ${ROOT}/${top})
    file(GLOB_RECURSE found RELATIVE ${ROOT}
      ${ROOT}/${top}/*.cpp ${ROOT}/${top}/*.h ${ROOT}/${top}/*.hpp ${ROOT}/${top}/*.cc)
    list(APPEND files ${found})
  endif()
endforeach()
set(pattern "#[ \t]*include[ \t]*<(sys/[^>]*|unistd\\.h|fcntl\\.h|semaphore\\.h|poll\\.h|dlfcn\\.h)>")
set(failed "")
foreach(f ${files})
  if(f MATCHES "^(build[^/]*|platform/(sound|system)|tests/platform/(sound|system)|tests/audio|\\.git)/")
    continue()
  endif()
  file(STRINGS ${ROOT}/${f} hits REGEX "${pattern}")
  foreach(hit ${hits})
    string(APPEND failed "\n  ${f}: ${hit}")
  endforeach()
endforeach()
if(failed)
  message(FATAL_ERROR "operating-system headers outside platform/sound/ and platform/system/:${failed}")
endif()
message(STATUS "no operating-system header outside platform/sound/ and platform/system/ in ${ROOT}")
