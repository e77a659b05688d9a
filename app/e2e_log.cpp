// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/e2e_log.h"

#include "analyser/fFFT.h"

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QFile>
#include <QMenu>
#include <QMessageBox>
#include <QTimer>

namespace app {
namespace {

class E2eLog : public QObject {
public:
    E2eLog(fFFT& window, const QString& path) : window_(window), file_(path) {
        file_.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered);
        // Connected after the window's own handler, so the entries are there to read.
        connect(window.mnuInput, &QMenu::aboutToShow, this, [this] {
            QStringList entries;
            for (QAction* a : window_.mnuInput->actions())
                entries << QString(a->isChecked() ? "[x] " : "[ ] ") + a->text();
            write("menu: " + entries.join(" | "));
        });
        // The caption changes at a few points of a run; a look ten times a second sees each.
        auto* timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, [this] {
            const QString now =
                window_.lbInput->isVisible() ? window_.lbInput->Caption() : QString("-");
            if (now != caption_) write("input: " + now);
            caption_ = now;
        });
        timer->start(100);
        qApp->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* object, QEvent* event) override {
        if (event->type() == QEvent::Show)
            if (auto* box = qobject_cast<QMessageBox*>(object))
                write("box: " + box->windowTitle() + ": " + box->text());
        return false;
    }

private:
    void write(const QString& line) { file_.write((line + "\n").toUtf8()); }

    fFFT& window_;
    QFile file_;
    QString caption_ = "-";
};

} // namespace

std::unique_ptr<QObject> StartE2eLog(fFFT& window) {
    const QString path = qEnvironmentVariable("TONVAULT_E2E_LOG");
    if (path.isEmpty()) return nullptr;
    return std::make_unique<E2eLog>(window, path);
}

} // namespace app
