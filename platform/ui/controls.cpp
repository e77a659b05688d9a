// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ui/controls.h"

#include "platform/system/colour.h"
#include "platform/system/file_names.h"

#include <QDir>
#include <QMouseEvent>

#include <algorithm>
#include <cstdlib>

namespace platform {

QColor ToQColor(std::int32_t packed) {
    const Rgb c = SplitColour(packed);
    return QColor(c.red, c.green, c.blue);
}

bool VisibleFlag(const QWidget* widget) {
    // Qt marks every child hidden until its window is first shown; only an explicit hide()
    // counts as the control's own flag being off.
    return !(widget->testAttribute(Qt::WA_WState_ExplicitShowHide) &&
             widget->testAttribute(Qt::WA_WState_Hidden));
}

namespace {
void reportMove(const MouseMoveHandler& handler, QMouseEvent* event) {
    if (handler)
        handler(event->buttons(), event->modifiers(), event->position().x(), event->position().y());
}
} // namespace

// ---- ScrollBar ------------------------------------------------------------------------------
//
// QScrollBar needs minimum <= maximum, so the widget always runs from 0 at the Min end to
// |Max - Min| at the Max end, and the value is mapped both ways.

ScrollBar::ScrollBar(Qt::Orientation orientation, QWidget* parent)
    : QScrollBar(orientation, parent) {
    connect(this, &QAbstractSlider::valueChanged, this, [this](int position) {
        if (!pushing_) fromWidget(position);
    });
    pushToWidget();
}

void ScrollBar::pushToWidget() {
    pushing_ = true;
    const int span = std::abs(max_ - min_);
    QAbstractSlider::setRange(0, span);
    QAbstractSlider::setSingleStep(small_);
    QAbstractSlider::setPageStep(large_);
    QAbstractSlider::setValue(std::abs(value_ - min_));
    pushing_ = false;
}

void ScrollBar::fromWidget(int position) {
    const std::int32_t value = max_ >= min_ ? min_ + position : min_ - position;
    if (value == value_) return;
    value_ = value;
    if (onChange) onChange();
}

void ScrollBar::setClamped(std::int32_t value) {
    const std::int32_t low = std::min(min_, max_);
    const std::int32_t high = std::max(min_, max_);
    value = std::clamp(value, low, high);
    const bool changed = value != value_;
    value_ = value;
    pushToWidget();
    if (changed && onChange) onChange();
}

void ScrollBar::setValue(std::int32_t value) {
    setClamped(value);
}

void ScrollBar::setMin(std::int32_t min) {
    min_ = min;
    setClamped(value_);
}

void ScrollBar::setMax(std::int32_t max) {
    max_ = max;
    setClamped(value_);
}

void ScrollBar::setRange(std::int32_t min, std::int32_t max) {
    min_ = min;
    max_ = max;
    setClamped(value_);
}

void ScrollBar::setSmallChange(std::int32_t step) {
    small_ = std::max(1, step);
    pushToWidget();
}

void ScrollBar::setLargeChange(std::int32_t step) {
    large_ = std::max(1, step);
    pushToWidget();
}

// ---- CheckBox, OptionButton, OptionArray ------------------------------------------------------

CheckBox::CheckBox(const QString& caption, QWidget* parent) : QCheckBox(caption, parent) {
    connect(this, &QAbstractButton::toggled, this, [this](bool) {
        if (onClick) onClick();
    });
}

OptionButton::OptionButton(const QString& caption, QWidget* parent)
    : QRadioButton(caption, parent) {
    connect(this, &QAbstractButton::toggled, this, [this](bool checked) {
        if (checked && onClick) onClick();
    });
}

void OptionButton::setValue(bool selected) {
    if (selected) {
        setChecked(true);
        return;
    }
    // Auto-exclusive buttons refuse to be switched off directly.
    const bool exclusive = autoExclusive();
    setAutoExclusive(false);
    setChecked(false);
    setAutoExclusive(exclusive);
}

OptionButton* OptionArray::add(const QString& caption, QWidget* parent) {
    auto* button = new OptionButton(caption, parent);
    const int index = count();
    button->onClick = [this, index] {
        if (onClick) onClick(index);
    };
    buttons_.push_back(button);
    return button;
}

int OptionArray::selected() const {
    for (int i = 0; i < count(); ++i)
        if (buttons_[static_cast<size_t>(i)]->isChecked()) return i;
    return -1;
}

// ---- Label, TextBox, ListBox ------------------------------------------------------------------

Label::Label(const QString& caption, QWidget* parent) : QLabel(caption, parent) {}

void Label::setCaption(const QString& caption) {
    setText(caption);
    if (autoSize_) adjustSize();
}

void Label::setAutoSize(bool on) {
    autoSize_ = on;
    if (on) adjustSize();
}

void Label::setForeColor(std::int32_t packed) {
    QPalette p = palette();
    p.setColor(QPalette::WindowText, ToQColor(packed));
    setPalette(p);
}

void Label::setBackColor(std::int32_t packed) {
    QPalette p = palette();
    p.setColor(QPalette::Window, ToQColor(packed));
    setPalette(p);
    setAutoFillBackground(true);
}

TextBox::TextBox(const QString& text, QWidget* parent) : QLineEdit(text, parent) {
    connect(this, &QLineEdit::textChanged, this, [this] {
        if (onChange) onChange();
    });
}

namespace {

// Column numbers of the widest waterfall and then some; copies of these strings share their data.
const std::vector<QString>& NumberTexts() {
    static const std::vector<QString> texts = [] {
        std::vector<QString> t;
        t.reserve(4096);
        for (int i = 0; i < 4096; ++i) t.push_back(QString::number(i));
        return t;
    }();
    return texts;
}

QString NumberText(int value) {
    const auto& texts = NumberTexts();
    return value < static_cast<int>(texts.size()) ? texts[static_cast<std::size_t>(value)]
                                                  : QString::number(value);
}

} // namespace

ListBox::ListBox(QWidget* parent) : QListWidget(parent) {
    entries_.reserve(4096);
    NumberTexts();
}

void ListBox::AddItem(const QString& item) {
    texts_.push_back(item);
    entries_.push_back(-static_cast<int>(texts_.size()));
    if (isVisible()) addItem(item);
}

void ListBox::AddNumber(int value) {
    if (value < 0) {
        AddItem(QString::number(value));
        return;
    }
    entries_.push_back(value);
    if (isVisible()) addItem(NumberText(value));
}

void ListBox::Clear() {
    entries_.clear();
    texts_.clear();
    if (count() > 0) clear();
}

QString ListBox::List(int index) const {
    if (index < 0 || index >= ListCount()) return QString();
    const int entry = entries_[static_cast<std::size_t>(index)];
    return entry >= 0 ? NumberText(entry) : texts_[static_cast<std::size_t>(-entry - 1)];
}

void ListBox::showEvent(QShowEvent* event) {
    // The rows were not kept up to date while hidden.
    clear();
    for (int i = 0; i < ListCount(); ++i) addItem(List(i));
    QListWidget::showEvent(event);
}

// ---- FileListBox ------------------------------------------------------------------------------

FileListBox::FileListBox(QWidget* parent) : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    // A change of selection by the user (mouse or keys) is a click.
    connect(this, &QListWidget::currentRowChanged, this, [this](int row) {
        if (!fromCode_ && row >= 0 && onClick) onClick();
    });
}

void FileListBox::setPath(const QString& folder) {
    folder_ = folder;
    Refresh();
}

void FileListBox::Refresh() {
    const QString keep = FileName();
    std::vector<std::string> names;
    if (!folder_.isEmpty()) {
        const QDir dir(folder_);
        // Hidden and system entries are left out as a file list shows them; no pattern filter.
        const QStringList entries = dir.entryList(QDir::Files | QDir::NoDotAndDotDot, QDir::NoSort);
        for (const QString& e : entries) {
            std::string name = e.toStdString();
            if (!filter_ || filter_(name)) names.push_back(std::move(name));
        }
    }
    std::sort(names.begin(), names.end(), FileNameLess);

    fromCode_ = true;
    clear();
    int keepRow = -1;
    for (const std::string& n : names) {
        const QString name = QString::fromStdString(n);
        if (name == keep) keepRow = count();
        addItem(name);
    }
    setCurrentRow(keepRow);
    fromCode_ = false;
}

QString FileListBox::List(int index) const {
    const QListWidgetItem* it = item(index);
    return it ? it->text() : QString();
}

void FileListBox::setListIndex(int index) {
    if (index < -1 || index >= count()) return;
    fromCode_ = true;
    setCurrentRow(index);
    fromCode_ = false;
    if (index >= 0 && onClick) onClick();
}

QString FileListBox::FileName() const {
    const QListWidgetItem* it = currentItem();
    return it ? it->text() : QString();
}

void FileListBox::mousePressEvent(QMouseEvent* event) {
    const int before = currentRow();
    QListWidget::mousePressEvent(event);
    // Pressing the entry that is already selected changes nothing, yet it is a click.
    const QListWidgetItem* hit = itemAt(event->position().toPoint());
    if (hit && row(hit) == before && event->button() == Qt::LeftButton && onClick) onClick();
}

// ---- CommandButton, Frame, Panel, Timer -------------------------------------------------------

CommandButton::CommandButton(const QString& caption, QWidget* parent)
    : QPushButton(caption, parent) {
    setFocusPolicy(Qt::StrongFocus);
    connect(this, &QAbstractButton::clicked, this, [this] {
        if (onClick) onClick();
    });
}

void CommandButton::setBackColor(std::int32_t packed) {
    const QColor c = ToQColor(packed);
    setStyleSheet(QStringLiteral("QPushButton { background-color: %1; border: 1px solid #404040; }"
                                 "QPushButton:pressed { border: 2px inset #202020; }"
                                 "QPushButton:disabled { color: #808080; }")
                      .arg(c.name()));
}

void CommandButton::Click() {
    if (onClick) onClick();
}

Frame::Frame(const QString& caption, QWidget* parent) : QGroupBox(caption, parent) {
    setMouseTracking(true);
}

void Frame::mouseMoveEvent(QMouseEvent* event) {
    reportMove(onMouseMove, event);
    QGroupBox::mouseMoveEvent(event);
}

Panel::Panel(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
}

void Panel::mouseMoveEvent(QMouseEvent* event) {
    reportMove(onMouseMove, event);
    QWidget::mouseMoveEvent(event);
}

Timer::Timer(QObject* parent) : QObject(parent), timer_(new QTimer(this)) {
    connect(timer_, &QTimer::timeout, this, [this] {
        if (onTimer) onTimer();
    });
}

void Timer::setInterval(int ms) {
    interval_ = std::max(0, ms);
    apply();
}

void Timer::setEnabled(bool on) {
    if (on == enabled_) return;
    enabled_ = on;
    apply();
}

void Timer::apply() {
    if (enabled_ && interval_ > 0)
        timer_->start(interval_);
    else
        timer_->stop();
}

} // namespace platform
