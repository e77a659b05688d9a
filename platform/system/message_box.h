// SPDX-License-Identifier: GPL-3.0-or-later
// Message boxes: a real QMessageBox in the program (platform/ui/message_dialog.cpp), recorded
// instead of shown in tests.
#pragma once

#include <string>
#include <vector>

namespace platform {

enum class MsgIcon { Critical, Exclamation, Information };

struct MessageRecord {
    std::string title;
    std::string text;
    MsgIcon icon;
};

// Shows a modal box with an OK button and returns when it is closed. Without a recorder
// and without a QApplication the message goes to stderr, so nothing is lost.
void MsgBox(const std::string& text, MsgIcon icon, const std::string& title);

// Shows a box and returns true, or returns false when it cannot (no QApplication); then MsgBox
// writes to stderr.
using MessageBoxShower = bool (*)(const std::string& text, MsgIcon icon, const std::string& title);
void SetMessageBoxShower(MessageBoxShower shower);

// While one exists, every MsgBox is appended to messages() and nothing is shown.
class MessageBoxRecorder {
public:
    MessageBoxRecorder();
    ~MessageBoxRecorder();
    MessageBoxRecorder(const MessageBoxRecorder&) = delete;
    MessageBoxRecorder& operator=(const MessageBoxRecorder&) = delete;

    const std::vector<MessageRecord>& messages() const { return messages_; }
    void clear() { messages_.clear(); }

private:
    friend void MsgBox(const std::string&, MsgIcon, const std::string&);
    std::vector<MessageRecord> messages_;
    MessageBoxRecorder* previous_;
};

} // namespace platform
