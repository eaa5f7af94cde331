#pragma once

#include "camera_panels/paint_cache.h"

#include <QWidget>

namespace morvane {

/// A capsule label: a red dot when live, a grey one otherwise, then the text, verbatim.
class StatusPill : public QWidget {
    Q_OBJECT
public:
    explicit StatusPill(QWidget* parent = nullptr);
    StatusPill(const QString& text, bool live, QWidget* parent = nullptr);

    void setText(const QString& text);
    void setLive(bool live);
    /// Figures that change in place keep their width.
    void setMonospacedDigits(bool value);
    const QString& text() const { return text_; }
    bool isLive() const { return live_; }

    QSize sizeHint() const override;
    /// The pill's width were it to show `text`.
    int widthFor(const QString& text) const;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void draw(QPainter& p);

    PaintCache cache_;
    QString text_;
    bool live_ = false;
    bool monospaced_ = false;
};

}  // namespace morvane
