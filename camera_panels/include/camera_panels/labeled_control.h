#pragma once

#include <QAbstractButton>

#include <functional>
#include <string>

namespace morvane {

/// An icon with a short title under it, the building block of the capture controls' button rows: the symbol
/// in the title-3 size in a frame 24 high, 3 points above the title (10 points, semibold, one line, shrinking
/// to 0.7 of its size before it is cut); yellow when active, white otherwise; 40 to 58 wide, at least 44
/// high. A press calls the action once.
class LabeledControl : public QAbstractButton {
    Q_OBJECT
public:
    LabeledControl(QString title, std::string systemImage, bool active, std::function<void()> action,
                   QWidget* parent = nullptr);

    static constexpr qreal minimumWidth = 40;
    static constexpr qreal maximumWidth = 58;
    /// A title longer than the usual width (the format badge, "4K·23.98·LOG") widens its control up to this
    /// before its type shrinks: a mouse pointer needs the badge readable, not squeezed to 7 pixels.
    static constexpr qreal wideMaximumWidth = 100;
    static constexpr qreal minimumHeight = 44;
    static constexpr qreal iconFrameHeight = 24;
    static constexpr qreal spacing = 3;
    static constexpr qreal titleSize = 10;
    static constexpr qreal titleMinimumScale = 0.7;

    const QString& title() const { return title_; }
    const std::string& systemImage() const { return systemImage_; }
    bool isActive() const { return active_; }
    /// The creator hands new values whenever its state changes.
    void setTitle(QString title);
    void setSystemImage(std::string systemImage);
    void setActive(bool active);
    void setAction(std::function<void()> action) { action_ = std::move(action); }

    /// The colour of the symbol and the title.
    QColor tint() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString title_;
    std::string systemImage_;
    bool active_;
    std::function<void()> action_;
};

}  // namespace morvane
