#pragma once

#include <QAbstractButton>
#include <QComboBox>
#include <QSlider>
#include <QWidget>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/theme.h"

// Small controls the panels draw themselves, so they look the same on every desktop theme.

namespace morvane {

/// A plain button showing a symbol and, optionally, a text beside it (no chrome of its own).
class SymbolButton : public QAbstractButton {
    Q_OBJECT
public:
    SymbolButton(std::string symbol, theme::TextStyle style, QSize frame, std::function<void()> action,
                 QWidget* parent = nullptr);

    void setSymbol(std::string symbol);
    void setLabel(QString text, QFont font);
    const QString& label() const { return label_; }
    void setColor(QColor color);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::string symbol_;
    theme::TextStyle style_;
    QSize frame_;
    QString label_;
    QFont labelFont_;
    QColor color_ = theme::white();
    std::function<void()> action_;
};

/// A segmented picker: one segment per option (a text or a symbol). Showing a value selects its segment, or
/// none when no option has it; choosing a segment calls `chosen` with its index and changes nothing itself.
class SegmentedPicker : public QWidget {
    Q_OBJECT
public:
    struct Segment {
        QString text;
        std::string symbol;  ///< drawn instead of the text when set
    };

    SegmentedPicker(std::vector<Segment> segments, std::function<void(int)> chosen, QWidget* parent = nullptr);

    void setSegments(std::vector<Segment> segments);
    int count() const { return static_cast<int>(segments_.size()); }
    void setSelected(std::optional<int> index);
    std::optional<int> selected() const { return selected_; }
    /// What a click on the segment does (for tests and keyboard use).
    void choose(int index);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QRectF segmentRect(int index) const;

    std::vector<Segment> segments_;
    std::optional<int> selected_;
    std::function<void(int)> chosen_;
};

/// An on/off switch in the platform's look (green when on). It shows what it is told; a click calls
/// `toggled` with the opposite value and leaves the switch as it was until the owner sets it.
class ToggleSwitch : public QAbstractButton {
    Q_OBJECT
public:
    explicit ToggleSwitch(std::function<void(bool)> toggled, QWidget* parent = nullptr);

    void setOn(bool on);
    bool isOn() const { return on_; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void nextCheckState() override {}

private:
    bool on_ = false;
    std::function<void(bool)> toggled_;
};

/// Where a picker's list goes so that it stays inside the window: moved up or in where it would run over an
/// edge; a list taller or wider than the window gets the window's height or width (and scrolls).
QRect popupWithin(const QRect& popup, const QRect& window);

/// A form's menu picker: the chosen option's text right-aligned in the secondary colour with an up-down
/// chevron; a click opens the list of options. No option chosen shows no text. Like `FormSlider`, it takes the
/// mouse wheel only while it has the focus.
class FormPicker : public QComboBox {
    Q_OBJECT
public:
    explicit FormPicker(QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    /// The list opens inside the window (`popupWithin`), not over its bottom edge.
    void showPopup() override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
};

/// A form's slider. It takes the mouse wheel only once a click or Tab has given it the focus: until then the wheel
/// over it scrolls the form, and must not change whichever setting passes under the pointer on the way.
class FormSlider : public QSlider {
    Q_OBJECT
public:
    explicit FormSlider(QWidget* parent = nullptr);

protected:
    void wheelEvent(QWheelEvent* event) override;
};

}  // namespace morvane
