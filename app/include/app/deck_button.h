#pragma once

#include <QAbstractButton>

#include <functional>
#include <memory>
#include <optional>

namespace morvane {

class CameraFeed;

/// One large switcher button of deck mode: the camera's number, "REC" while it records, its name and the
/// state line, on red while the camera is on air. Dragging it carries the camera's name; a camera name
/// dropped on it is handed to `onDrop`.
class DeckButton : public QAbstractButton {
    Q_OBJECT
public:
    DeckButton(int number, std::shared_ptr<CameraFeed> feed, bool onAir, qreal minHeight, std::function<void()> action,
               QWidget* parent = nullptr);

    void setValues(int number, bool onAir, qreal minHeight);
    void setOnDrop(std::function<void(const std::string&)> onDrop) { onDrop_ = std::move(onDrop); }

    int number() const { return number_; }
    bool onAir() const { return onAir_; }
    const std::shared_ptr<CameraFeed>& feed() const { return feed_; }
    bool showsRecording() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void updateAccessibility();

    int number_;
    std::shared_ptr<CameraFeed> feed_;
    bool onAir_;
    qreal minHeight_;
    std::function<void()> action_;
    std::function<void(const std::string&)> onDrop_;
    std::optional<QPoint> pressedAt_;
};

}  // namespace morvane
