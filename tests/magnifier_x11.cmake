# SPDX-License-Identifier: GPL-3.0-or-later
# The magnifier on a real X display: the screen grab, the round outline and staying on top.
add_executable(magnifier_x11_tests ${CMAKE_CURRENT_SOURCE_DIR}/magnifier_x11/magnifier_x11_test.cpp)
target_link_libraries(magnifier_x11_tests PRIVATE magnifier GTest::gtest Qt6::Test)
add_test(NAME magnifier_x11
  COMMAND ${PROJECT_SOURCE_DIR}/scripts/x11-display-test $<TARGET_FILE:magnifier_x11_tests>)
set_tests_properties(magnifier_x11 PROPERTIES SKIP_RETURN_CODE 77 LABELS x11 TIMEOUT 120)
