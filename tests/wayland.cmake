# SPDX-License-Identifier: GPL-3.0-or-later
# How desktops know the real program: on a headless Wayland desktop (sway, output scales 1, 1.5 and 2)
# its window carries the desktop entry's id and draws the tone; on X11 its window class is the
# entry's StartupWMClass and it offers our icon. Both beside a private PulseAudio.
add_test(NAME e2e_wayland
  COMMAND ${PROJECT_SOURCE_DIR}/scripts/harness/wayland-session $<TARGET_FILE:tonvault>
          $<TARGET_FILE:shot_check> ${CMAKE_BINARY_DIR}/e2e_wayland)
add_test(NAME e2e_x11_identity
  COMMAND ${PROJECT_SOURCE_DIR}/scripts/harness/with-pulse --
          ${PROJECT_SOURCE_DIR}/scripts/harness/x11-display-test
          ${PROJECT_SOURCE_DIR}/scripts/harness/x11-identity-session $<TARGET_FILE:tonvault>
          $<TARGET_FILE:shot_check> ${CMAKE_BINARY_DIR}/e2e_x11_identity)
set_tests_properties(e2e_wayland e2e_x11_identity PROPERTIES
  LABELS e2e SKIP_RETURN_CODE 77 TIMEOUT 180 RESOURCE_LOCK soundserver)
