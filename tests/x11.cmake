# SPDX-License-Identifier: GPL-3.0-or-later
# Suites on a real X display (scripts/harness/x11-display-test: Xvfb with a window manager), where the
# offscreen platform cannot tell: the magnifier's screen grab, round outline and staying on top;
# the picture box's scroll straight into the window's backing store, as the X server shows it.
add_executable(magnifier_x11_tests ${CMAKE_CURRENT_SOURCE_DIR}/magnifier_x11/magnifier_x11_test.cpp)
target_link_libraries(magnifier_x11_tests PRIVATE magnifier GTest::gtest Qt6::Test)
add_test(NAME magnifier_x11
  COMMAND ${PROJECT_SOURCE_DIR}/scripts/harness/x11-display-test $<TARGET_FILE:magnifier_x11_tests>)
add_test(NAME picture_box_x11
  COMMAND ${PROJECT_SOURCE_DIR}/scripts/harness/x11-display-test $<TARGET_FILE:platform_tests>
          --gtest_filter=PictureBoxRingTest.*:PictureBoxLazyTest.*)
set_tests_properties(magnifier_x11 picture_box_x11 PROPERTIES SKIP_RETURN_CODE 77 LABELS x11
  TIMEOUT 120)
