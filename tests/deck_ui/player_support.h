#pragma once

// A two- or three-camera take of real movies made by the ffmpeg tool, filed in a library in a temporary folder, and a
// sound output that takes the player's sound at the pace of a real device and keeps it.

#include <QColor>
#include <QElapsedTimer>
#include <QImage>
#include <QTimer>

#include <memory>
#include <string>
#include <vector>

#include "../deck/media_fixtures.h"
#include "deck/retouch_library.h"
#include "deck_ui/player/sound_output.h"
#include "platform/program_renderer.h"

namespace morvane::test {

class CapturingSoundOutput : public SoundOutput {
public:
    /// Samples go to `samples` (left channel only) as a device would pull them: 10 ms every 10 ms, `latency`
    /// seconds ahead of what is heard (a device's buffer, filled at the first pull).
    explicit CapturingSoundOutput(std::shared_ptr<std::vector<float>> samples, double latency = 0)
        : samples_(std::move(samples)), latency_(latency) {}
    bool start(SoundFeed& feed) override {
        feed_ = &feed;
        pulled_ = 0;
        clock_.start();
        timer_ = std::make_unique<QTimer>();
        timer_->setInterval(10);
        QObject::connect(timer_.get(), &QTimer::timeout, [this] {
            // As much as a device would have played by now, however late the timer fires.
            const auto ahead = static_cast<qint64>(latency_ * ProgramRenderer::sampleRate);
            const auto due = clock_.nsecsElapsed() * ProgramRenderer::sampleRate / 1000000000 + ahead - pulled_;
            if (due <= 0) return;
            std::vector<float> buffer(std::size_t(due) * 2);
            const std::size_t n = feed_->read(buffer.data(), std::size_t(due));
            pulled_ += due;  // what the feed lacked is heard as silence
            for (std::size_t i = 0; i < n; ++i) samples_->push_back(buffer[i * 2]);
        });
        timer_->start();
        return true;
    }
    void stop() override { timer_.reset(); }
    double latency() const override { return latency_; }

private:
    std::shared_ptr<std::vector<float>> samples_;
    double latency_ = 0;
    SoundFeed* feed_ = nullptr;
    std::unique_ptr<QTimer> timer_;
    QElapsedTimer clock_;
    qint64 pulled_ = 0;
};

struct CameraSource {
    std::string camera;
    std::string color;
    double tone = 0;
    double seconds = 4;
};

/// Makes the cameras' copies in the library's folder and files them as one take with a live cut.
inline RetouchTake makeTake(RetouchLibrary& library, const std::vector<CameraSource>& sources,
                            const std::vector<std::pair<std::string, double>>& cuts, int width = 320, int height = 180,
                            int rate = 10) {
    const Date start{760000000.0};
    RetouchTake take;
    take.number = 4;
    for (const auto& s : sources) {
        RetouchClip clip;
        clip.camera = s.camera;
        clip.file = clip.id.uuidString() + ".mov";
        clip.start = start;
        clip.duration = s.seconds;
        fixtures::Clip movie;
        movie.color = s.color;
        movie.tone = s.tone;
        movie.seconds = s.seconds;
        movie.width = width;
        movie.height = height;
        movie.rate = rate;
        if (!fixtures::makeClip(library.directory() / clip.file, movie)) return {};
        take.clips.push_back(clip);
    }
    for (const auto& [camera, at] : cuts) take.cuts.push_back({camera, start.addingTimeInterval(at)});
    auto takes = library.takes();
    takes.push_back(take);
    library.setTakes(takes);
    return take;
}

/// The mean colour of the middle of a picture.
inline QColor middleColour(const QImage& image) {
    if (image.isNull()) return {};
    long r = 0, g = 0, b = 0, n = 0;
    for (int y = image.height() * 2 / 5; y < image.height() * 3 / 5; ++y) {
        for (int x = image.width() * 2 / 5; x < image.width() * 3 / 5; ++x) {
            const QColor c = image.pixelColor(x, y);
            r += c.red();
            g += c.green();
            b += c.blue();
            ++n;
        }
    }
    if (n == 0) return {};
    return QColor(int(r / n), int(g / n), int(b / n));
}

inline bool isRed(const QColor& c) {
    return c.isValid() && c.red() > 180 && c.green() < 60 && c.blue() < 60;
}
inline bool isGreen(const QColor& c) {
    return c.isValid() && c.green() > 100 && c.red() < 60 && c.blue() < 60;
}
inline bool isBlue(const QColor& c) {
    return c.isValid() && c.blue() > 180 && c.red() < 60 && c.green() < 60;
}

}  // namespace morvane::test
