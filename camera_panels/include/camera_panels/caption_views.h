#pragma once

#include <QWidget>

namespace morvane {

/// An echo of a heard voice command: the symbol "waveform" and the text (verbatim, one line), caption size,
/// white at 80 %, padded 12 by 6 on a black capsule at 45 %. Its accessibility label is "Heard: " and the text.
class HeardLine : public QWidget {
    Q_OBJECT
public:
    explicit HeardLine(QString text, QWidget* parent = nullptr);

    const QString& text() const { return text_; }
    void setText(QString text);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
};

/// A short message: the text (verbatim) in the footnote size, medium weight, white, padded 14 by 8 on a
/// translucent dark capsule.
class Toast : public QWidget {
    Q_OBJECT
public:
    explicit Toast(QString text, QWidget* parent = nullptr);

    const QString& text() const { return text_; }
    void setText(QString text);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
};

}  // namespace morvane
