// SPDX-License-Identifier: GPL-3.0-or-later
// The time text of a pass, apart from pass.cpp because it reads a QTime.
#include "analyser/pass.h"

#include <QTime>

#include <algorithm>

namespace analyser {

void FormatTimeText(const QTime& time, char (&text)[9]) {
    const int parts[3] = {time.hour(), time.minute(), time.second()};
    for (int i = 0; i < 3; ++i) {
        const int v = std::clamp(parts[i], 0, 99);
        text[i * 3] = static_cast<char>('0' + v / 10);
        text[i * 3 + 1] = static_cast<char>('0' + v % 10);
        if (i < 2) text[i * 3 + 2] = ':';
    }
    text[8] = '\0';
}

} // namespace analyser
