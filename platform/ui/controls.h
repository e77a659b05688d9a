// SPDX-License-Identifier: GPL-3.0-or-later
// Window controls with the behaviour the analyser's handlers are written against: a value set
// from code runs the control's handler exactly as a user's action would, and only on a change.
#pragma once

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace platform {

// Colours are packed as red + 256 * green + 65536 * blue.
QColor ToQColor(std::int32_t packed);

// A control's own visibility flag, whatever its containers show: a control inside a hidden
// panel that was never hidden itself still reads as visible.
bool VisibleFlag(const QWidget* widget);

// Handlers take the pointer position in the control's own pixels.
using MouseMoveHandler =
    std::function<void(Qt::MouseButtons, Qt::KeyboardModifiers, double x, double y)>;

// A scroll bar whose Min may lie above its Max: Min is always at the top (or left) end, so a
// vertical bar reading 10 at the top and 1 at the bottom has Min 10 and Max 1. Dragging the
// thumb runs Change as it moves (unless tracking is switched off), as does every value set from
// code that differs from the current one.
class ScrollBar : public QScrollBar {
public:
    ScrollBar(Qt::Orientation orientation, QWidget* parent);

    std::int32_t Min() const { return min_; }
    std::int32_t Max() const { return max_; }
    std::int32_t Value() const { return value_; }
    std::int32_t SmallChange() const { return small_; }
    std::int32_t LargeChange() const { return large_; }

    // Out-of-range values are clamped into the range. A Min or Max that leaves the current value
    // outside moves the value to the nearest end and runs Change.
    void setValue(std::int32_t value);
    void setMin(std::int32_t min);
    void setMax(std::int32_t max);
    void setRange(std::int32_t min, std::int32_t max);
    void setSmallChange(std::int32_t step);
    void setLargeChange(std::int32_t step);
    // Off: a drag runs Change once, when the thumb is let go.
    void setChangeWhileDragging(bool on) { setTracking(on); }

    std::function<void()> onChange;

private:
    void pushToWidget();
    void fromWidget(int position);
    void setClamped(std::int32_t value);

    std::int32_t min_ = 0;
    std::int32_t max_ = 32767;
    std::int32_t value_ = 0;
    std::int32_t small_ = 1;
    std::int32_t large_ = 1;
    bool pushing_ = false;
};

// Value 1 when ticked, 0 otherwise; Click runs on every change, from the user or from code.
class CheckBox : public QCheckBox {
public:
    CheckBox(const QString& caption, QWidget* parent);
    int Value() const { return isChecked() ? 1 : 0; }
    void setValue(int value) { setChecked(value != 0); }

    std::function<void()> onClick;
};

// An option button is exclusive with the others of its container. Click runs when it becomes
// selected, from the user or from code, not when it is deselected or selected again.
class OptionButton : public QRadioButton {
public:
    OptionButton(const QString& caption, QWidget* parent);
    bool Value() const { return isChecked(); }
    void setValue(bool selected);

    std::function<void()> onClick;
};

// A group of option buttons addressed by index, sharing one Click(index) handler.
class OptionArray {
public:
    OptionArray() = default;
    OptionArray(const OptionArray&) = delete;
    OptionArray& operator=(const OptionArray&) = delete;

    OptionButton* add(const QString& caption, QWidget* parent);
    OptionButton& operator()(int index) const { return *buttons_.at(static_cast<size_t>(index)); }
    int count() const { return static_cast<int>(buttons_.size()); }
    // Index of the selected button, -1 when none is.
    int selected() const;

    std::function<void(int index)> onClick;

private:
    std::vector<OptionButton*> buttons_;
};

// A caption; with AutoSize on it takes the size of its text at every caption change.
class Label : public QLabel {
public:
    Label(const QString& caption, QWidget* parent);
    QString Caption() const { return text(); }
    void setCaption(const QString& caption);
    void setAutoSize(bool on);
    void setForeColor(std::int32_t packed);
    // Paints its own background; labels are transparent until this is called.
    void setBackColor(std::int32_t packed);

private:
    bool autoSize_ = false;
};

class TextBox : public QLineEdit {
public:
    TextBox(const QString& text, QWidget* parent);
    QString Text() const { return text(); }
    void setText(const QString& value) { QLineEdit::setText(value); }

    // Runs on every change of the text, typed or set from code.
    std::function<void()> onChange;
};

// A list of texts. Numbers, what the analyser lists on every pass, are kept as plain integers
// in a buffer reserved once, so clearing and refilling the list costs no string copies and no
// allocation; their texts are made when the list is shown or read. The rows on screen follow
// only while it is visible.
class ListBox : public QListWidget {
public:
    explicit ListBox(QWidget* parent);
    void AddItem(const QString& item);
    // Adds the decimal text of value.
    void AddNumber(int value);
    void Clear();
    int ListCount() const { return static_cast<int>(entries_.size()); }
    QString List(int index) const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    // A non-negative entry is a number; entry -(k + 1) is texts_[k].
    std::vector<int> entries_;
    std::vector<QString> texts_;
};

// The files of one folder: every regular file that is not hidden, sorted by name ignoring
// letter case (FileNameLess). The folder is read when the path is set and at Refresh only.
class FileListBox : public QListWidget {
public:
    explicit FileListBox(QWidget* parent);

    // Only names the filter accepts are listed (default: all).
    void setFilter(std::function<bool(const std::string&)> accept) { filter_ = std::move(accept); }
    void setPath(const QString& folder);
    QString Path() const { return folder_; }
    // Re-reads the folder. The selected name stays selected when it is still there, without
    // running Click; otherwise nothing is selected.
    void Refresh();

    int ListCount() const { return count(); }
    QString List(int index) const;
    int ListIndex() const { return currentRow(); }
    // Selecting from code runs Click, also when the entry was already selected, so a program
    // can show the current entry again. -1 clears the selection without running Click.
    void setListIndex(int index);
    // The selected name, empty when none is.
    QString FileName() const;

    std::function<void()> onClick;

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    QString folder_;
    std::function<bool(const std::string&)> filter_;
    bool fromCode_ = false;
};

// A push button that can carry a background colour.
class CommandButton : public QPushButton {
public:
    CommandButton(const QString& caption, QWidget* parent);
    void setBackColor(std::int32_t packed);
    // Does what a click does, also while the button is disabled or hidden.
    void Click();

    std::function<void()> onClick;
};

// A frame with an optional caption that reports pointer moves over its own background.
class Frame : public QGroupBox {
public:
    Frame(const QString& caption, QWidget* parent);
    MouseMoveHandler onMouseMove;

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
};

// A plain surface (the window's background) that reports pointer moves over itself.
class Panel : public QWidget {
public:
    explicit Panel(QWidget* parent);
    MouseMoveHandler onMouseMove;

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
};

// Runs Timer every Interval milliseconds while Enabled. A zero interval never fires.
class Timer : public QObject {
public:
    explicit Timer(QObject* parent);

    int Interval() const { return interval_; }
    // A new interval restarts the count when the timer runs.
    void setInterval(int ms);
    bool Enabled() const { return enabled_; }
    void setEnabled(bool on);

    std::function<void()> onTimer;

private:
    void apply();

    QTimer* timer_;
    int interval_ = 0;
    bool enabled_ = false;
};

} // namespace platform
