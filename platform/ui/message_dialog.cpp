// SPDX-License-Identifier: GPL-3.0-or-later
// The box itself, for programs that link the window toolkit. It installs itself when the program
// starts, so code below the windows (the engine, the capture module) reports through MsgBox
// without linking Qt Widgets.
#include "platform/system/message_box.h"

#include <QApplication>
#include <QMessageBox>
#include <QString>

namespace platform {
namespace {

bool ShowQtMessageBox(const std::string& text, MsgIcon icon, const std::string& title) {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return false;
    QMessageBox::Icon qtIcon = QMessageBox::Critical;
    if (icon == MsgIcon::Exclamation) qtIcon = QMessageBox::Warning;
    if (icon == MsgIcon::Information) qtIcon = QMessageBox::Information;
    QMessageBox box(qtIcon, QString::fromStdString(title), QString::fromStdString(text),
                    QMessageBox::Ok);
    box.exec();
    return true;
}

const bool installed = (SetMessageBoxShower(&ShowQtMessageBox), true);

} // namespace
} // namespace platform
