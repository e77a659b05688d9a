#include "platform/message_box.h"

#include <QApplication>
#include <QMessageBox>
#include <QString>

#include <cstdio>

namespace platform {
namespace {
MessageBoxRecorder* activeRecorder = nullptr;
}

MessageBoxRecorder::MessageBoxRecorder() : previous_(activeRecorder) {
    activeRecorder = this;
}
MessageBoxRecorder::~MessageBoxRecorder() {
    activeRecorder = previous_;
}

void MsgBox(const std::string& text, MsgIcon icon, const std::string& title) {
    if (activeRecorder) {
        activeRecorder->messages_.push_back({title, text, icon});
        return;
    }
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
        std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
        return;
    }
    QMessageBox::Icon qtIcon = QMessageBox::Critical;
    if (icon == MsgIcon::Exclamation) qtIcon = QMessageBox::Warning;
    if (icon == MsgIcon::Information) qtIcon = QMessageBox::Information;
    QMessageBox box(qtIcon, QString::fromStdString(title), QString::fromStdString(text),
                    QMessageBox::Ok);
    box.exec();
}

} // namespace platform
