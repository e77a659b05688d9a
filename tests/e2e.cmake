# SPDX-License-Identifier: GPL-3.0-or-later
# The real program under Xvfb and openbox, beside a private sound server with two inputs: the null
# sinks "det" carrying 700 Hz (the default) and "mic" carrying 300 Hz; PulseAudio and PipeWire. The
# session also changes the default source, picks inputs in the Input menu, unplugs det, stops the
# server for a while and takes it away mid-run, and brings each back.
add_executable(shot_check ${CMAKE_CURRENT_SOURCE_DIR}/e2e/shot_check.cpp)
target_link_libraries(shot_check PRIVATE Qt6::Gui)
foreach(server pulse pipewire)
  add_test(NAME e2e_waterfall_${server}
    COMMAND ${PROJECT_SOURCE_DIR}/scripts/harness/with-${server} --sink det:700 --sink mic:300 --
            ${PROJECT_SOURCE_DIR}/scripts/harness/x11-display-test
            ${PROJECT_SOURCE_DIR}/scripts/harness/e2e-session $<TARGET_FILE:tonvault> $<TARGET_FILE:shot_check>
            ${CMAKE_BINARY_DIR}/e2e_${server})
  set_tests_properties(e2e_waterfall_${server} PROPERTIES
    ENVIRONMENT "E2E_INPUTS=1;E2E_STALL=1"
    LABELS e2e SKIP_RETURN_CODE 77 TIMEOUT 360 RESOURCE_LOCK soundserver)
endforeach()

# Two copies of the real program on one sample library: one's save and delete reach the other's
# list, and pictures that cannot be shown show none. A tone gives the saved sample a picture.
add_test(NAME e2e_library_two_copies
  COMMAND ${PROJECT_SOURCE_DIR}/scripts/harness/with-pulse --tone 700 --
          ${PROJECT_SOURCE_DIR}/scripts/harness/x11-display-test
          ${PROJECT_SOURCE_DIR}/scripts/harness/e2e-library $<TARGET_FILE:tonvault> $<TARGET_FILE:shot_check>
          ${CMAKE_BINARY_DIR}/e2e_library)
set_tests_properties(e2e_library_two_copies PROPERTIES
  LABELS e2e SKIP_RETURN_CODE 77 TIMEOUT 180 RESOURCE_LOCK soundserver)
