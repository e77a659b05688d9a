// SPDX-License-Identifier: GPL-3.0-or-later
// main() for suites that need a QApplication: headless unless a display was asked for.
#pragma once

#include <QApplication>
#include <gtest/gtest.h>

inline int RunQtTests(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
