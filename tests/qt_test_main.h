// main() for suites that need a QApplication: headless unless a display was asked for.
#pragma once

#include <QApplication>
#include <gtest/gtest.h>

#include <cstdlib>

inline int RunQtTests(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 0);
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
