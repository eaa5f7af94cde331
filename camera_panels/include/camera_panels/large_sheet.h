#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <functional>

namespace morvane {

class CloseButton;

/// Presents a secondary screen over the presenting one. On the desktop (the tablet idiom) that is a cover
/// that fills the presenter's window, with its own close button at the top-trailing corner; the content is
/// built anew from `sheet` each time it is presented and destroyed when it closes.
///
/// `isPresented` is the presenter's flag: the presenter sets it, and closing the cover (its close button or
/// Escape) sets it back to false and reports that through `presentedChanged`. Main thread only.
class LargeSheet : public QObject {
    Q_OBJECT
public:
    using Builder = std::function<QWidget*()>;

    LargeSheet(QWidget* presenter, Builder sheet);
    ~LargeSheet() override;

    bool isPresented() const { return presented_; }
    void setPresented(bool presented);

    /// The cover while presented (it fills the window), else null.
    QWidget* cover() const { return cover_; }
    /// The content built by `sheet` while presented, else null.
    QWidget* content() const { return content_; }
    /// The cover's close button while presented, else null.
    CloseButton* closeButton() const { return closeButton_; }

    /// Space between the window's edges and the close button.
    static constexpr int closeButtonInset = 16;

signals:
    void presentedChanged(bool presented);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void open();
    void close();
    void fitToWindow();

    QPointer<QWidget> presenter_;
    Builder sheet_;
    bool presented_ = false;
    QPointer<QWidget> window_;
    QPointer<QWidget> cover_;
    QPointer<QWidget> content_;
    QPointer<CloseButton> closeButton_;
};

}  // namespace morvane
