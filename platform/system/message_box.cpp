// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/system/message_box.h"

#include <cstdio>

namespace platform {
namespace {
MessageBoxRecorder* activeRecorder = nullptr;
MessageBoxShower activeShower = nullptr;
} // namespace

MessageBoxRecorder::MessageBoxRecorder() : previous_(activeRecorder) {
    activeRecorder = this;
}
MessageBoxRecorder::~MessageBoxRecorder() {
    activeRecorder = previous_;
}

void SetMessageBoxShower(MessageBoxShower shower) {
    activeShower = shower;
}

void MsgBox(const std::string& text, MsgIcon icon, const std::string& title) {
    if (activeRecorder) {
        activeRecorder->messages_.push_back({title, text, icon});
        return;
    }
    if (activeShower && activeShower(text, icon, title)) return;
    std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
}

} // namespace platform
