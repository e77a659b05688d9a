# Fails when an operating-system header is included outside platform/. The tests of platform/
# and of the Linux sound backends (tests/audio) may use them to capture stderr.
file(GLOB_RECURSE files RELATIVE ${ROOT}
  ${ROOT}/*.cpp ${ROOT}/*.h ${ROOT}/*.hpp ${ROOT}/*.cc)
set(pattern "#[ \t]*include[ \t]*<(sys/[^>]*|unistd\\.h|fcntl\\.h|semaphore\\.h|poll\\.h|dlfcn\\.h)>")
set(failed "")
foreach(f ${files})
  if(f MATCHES "^(build[^/]*|platform|tests/platform|tests/audio|\\.git)/")
    continue()
  endif()
  file(STRINGS ${ROOT}/${f} hits REGEX "${pattern}")
  foreach(hit ${hits})
    string(APPEND failed "\n  ${f}: ${hit}")
  endforeach()
endforeach()
if(failed)
  message(FATAL_ERROR "operating-system headers outside platform/:${failed}")
endif()
message(STATUS "no operating-system header outside platform/ in ${ROOT}")
