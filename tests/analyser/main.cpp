// SPDX-License-Identifier: GPL-3.0-or-later
#include "qt_test_main.h"

int main(int argc, char** argv) {
    return RunQtTests(argc, argv);
}
