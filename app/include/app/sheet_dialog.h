#pragma once

#include <QDialog>
#include <QPointer>

#include <functional>

class QLabel;
class QPushButton;

namespace morvane {

/// A sheet: a window-modal dialog over the remote's window, dark, holding one content view. Closing it (its
/// "Done" button, Escape, the window's close control, or the content's own dismiss) calls `onDismiss` once,
/// with which the presenter clears its flag. It follows the window: resized, it fits and centres again.
class SheetDialog : public QDialog {
    Q_OBJECT
public:
    struct Options {
        QString title;            ///< shown inline at the top; none: no title bar
        bool doneButton = false;  ///< a "Done" button at the trailing end of the title bar
        QSize size{560, 640};     ///< the sheet's size on a large window
        QColor background;        ///< the sheet's background; the sheet colour when invalid
    };

    SheetDialog(QWidget* presenter, QWidget* content, Options options, std::function<void()> onDismiss);

    QWidget* content() const { return content_; }
    QPushButton* doneButton() const { return done_; }
    /// Dimmed like the window behind it while an alert stands over it.
    void setDimmed(bool dimmed);
    bool dimmed() const;

    /// Presents a sheet: shown window-modal at once.
    static SheetDialog* present(QWidget* presenter, QWidget* content, Options options, std::function<void()> onDismiss);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    /// Its size on this window (the wanted size, within the window less a margin) and its place, centred on it.
    void fitToWindow();
    /// Alerts opened over the sheet stay when it closes: they go back to the window.
    void handBackAlerts();

    QSize wanted_;
    QWidget* dim_ = nullptr;
    QPointer<QWidget> content_;
    QPushButton* done_ = nullptr;
    std::function<void()> onDismiss_;
};

}  // namespace morvane
