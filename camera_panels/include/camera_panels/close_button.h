#pragma once

#include <QAbstractButton>

#include <functional>

namespace morvane {

/// The round close button of sheets and full-screen views: an "xmark" in the headline size, 12 points of
/// padding, on a translucent dark circle; white. A press calls the action once.
class CloseButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit CloseButton(std::function<void()> action, QWidget* parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    std::function<void()> action_;
    bool hovered_ = false;
    bool keyboardFocus_ = false;
};

}  // namespace morvane
