// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/system/file_names.h"

#include <QString>

namespace platform {

bool FileNameLess(const std::string& a, const std::string& b) {
    const int folded =
        QString::fromStdString(a).compare(QString::fromStdString(b), Qt::CaseInsensitive);
    if (folded != 0) return folded < 0;
    return a < b;
}

} // namespace platform
