#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <functional>

namespace morvane {

/// Presents a secondary screen over the presenting one. On the desktop (the tablet idiom) that is a cover
/// that fills the presenter's window; the content is built anew from `sheet` each time it is presented and
/// destroyed when it closes. The cover adds no close control of its own: the content has its own.
///
/// `isPresented` is the presenter's flag: the presenter sets it, and closing the cover (Escape) sets it back to
/// false and reports that through `presentedChanged`. Main thread only.
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
};

}  // namespace morvane
