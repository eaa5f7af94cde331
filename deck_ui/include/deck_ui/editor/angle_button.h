#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QImage>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "deck/retouch_take.h"

namespace morvane {

class RetouchEditor;

/// One camera's button under the strip: the frame its copy recorded at the playhead, its name, its colour as a
/// border and red dashes while it is on the program. A click hands the camera to the editor.
class AngleButton : public QAbstractButton {
    Q_OBJECT

public:
    AngleButton(RetouchEditor& editor, std::string camera, QWidget* parent = nullptr);

    static constexpr int pictureHeight = 70;
    static constexpr int spacing = 4;
    static constexpr int thumbnailLimit = 320;

    const std::string& camera() const { return camera_; }
    bool onAir() const { return onAir_; }
    const QImage& image() const { return image_; }
    /// The playhead lies outside the camera's clip: the picture is its nearest one, dimmed.
    bool dimmed() const { return dimmed_; }

    /// The frame of a camera's copy at a time of the clip, fitted within 320 × 320 and turned upright; null when
    /// the file cannot be read. Made with the program renderer, off the main thread.
    static QImage makeThumbnail(const RetouchTake& take, const RetouchClip& clip,
                                const std::filesystem::path& directory, double clipTime);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return {60, sizeHint().height()}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void refresh();
    void loadThumbnail();

    RetouchEditor& editor_;
    std::string camera_;
    bool onAir_ = false;
    QColor color_;
    QImage image_;
    bool dimmed_ = false;
    // The playhead's half second the picture was asked for; a new one asks again.
    std::optional<std::optional<std::int64_t>> key_;
    std::uint64_t requests_ = 0;
    std::uint64_t applied_ = 0;
};

}  // namespace morvane
