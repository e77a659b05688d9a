// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/system/durable_file.h"

#include <QFile>
#include <QSaveFile>

namespace platform {

std::string WriteNewFileDurably(const std::filesystem::path& path, std::span<const char> bytes) {
    const QString name = ToQString(path);
    // NewOnly is the system's exclusive create: the name is ours from here on.
    QFile claim(name);
    if (!claim.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return claim.errorString().toStdString();
    claim.close();

    // QSaveFile writes beside the name, syncs the data to the disk on commit and only then
    // renames it over the claimed empty file.
    QSaveFile out(name);
    if (!out.open(QIODevice::WriteOnly)) return out.errorString().toStdString();
    const auto size = static_cast<qint64>(bytes.size());
    if (out.write(bytes.data(), size) != size) {
        const std::string reason = out.errorString().toStdString();
        out.cancelWriting();
        return reason;
    }
    if (!out.commit()) return out.errorString().toStdString();
    return {};
}

} // namespace platform
