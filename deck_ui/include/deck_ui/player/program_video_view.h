#pragma once

#include <QImage>
#include <QWidget>

namespace morvane {

class ProgramPlayer;

/// Shows the player's pictures fitted on black, clipped to rounded corners (none when `cornerRadius` is 0). It paints
/// the player's current picture (shared, not copied); when the player gives up its item (an exported take's copies
/// are gone) the last picture stays.
class ProgramVideoView : public QWidget {
    Q_OBJECT

public:
    explicit ProgramVideoView(ProgramPlayer& player, QWidget* parent = nullptr);

    void setCornerRadius(qreal radius);
    /// Width over height of the program; the view keeps it.
    void setAspectRatio(double ratio);
    /// The tallest the view may be (for a tall program), or 0 for no limit.
    void setMaximumPictureHeight(int height);

    /// Where the program's picture lies in the view: fitted by its aspect ratio, centred.
    QRect pictureArea() const;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void pictureChanged();

    ProgramPlayer& player_;
    QImage shown_;
    qreal cornerRadius_ = 10;
    double aspect_ = 16.0 / 9.0;
    int maximumHeight_ = 0;
};

}  // namespace morvane
