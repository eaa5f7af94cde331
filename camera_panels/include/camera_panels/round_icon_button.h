#pragma once

#include <QAbstractButton>

#include <functional>
#include <string>

namespace morvane {

/// The small round symbol button of the remote screen's bars and of the tiles: the symbol in the headline
/// size with 12 points of padding on a translucent dark circle, white; `label` is its accessibility label
/// (and tooltip); a click runs `action`.
class RoundIconButton : public QAbstractButton {
    Q_OBJECT
public:
    RoundIconButton(std::string systemImage, QString label, std::function<void()> action, QWidget* parent = nullptr);

    static constexpr qreal padding = 12;

    const std::string& systemImage() const { return systemImage_; }
    const QString& label() const { return label_; }
    /// Hosts hand new values when their state changes (for example "eye" and "eye.slash").
    void setSystemImage(std::string systemImage);
    void setLabel(QString label);
    void setAction(std::function<void()> action) { action_ = std::move(action); }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    std::string systemImage_;
    QString label_;
    std::function<void()> action_;
    bool hovered_ = false;
    bool keyboardFocus_ = false;
};

}  // namespace morvane
