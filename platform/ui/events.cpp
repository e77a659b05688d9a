// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ui/events.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace platform {

void DoEvents() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void PostCommand(QObject* context, std::function<void()> command) {
    QMetaObject::invokeMethod(
        context, [c = std::move(command)] { c(); }, Qt::QueuedConnection);
}

} // namespace platform
