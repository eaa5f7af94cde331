#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "platform/capture_source.h"

namespace morvane {

/// A camera without a camera: colour bars over a grey ramp with a white square moving across, or one flat
/// colour, at a steady frame rate, with a sine tone. Used by tests, benchmarks and the camera program where no
/// capture device is named.
class SyntheticSource final : public CaptureSource {
public:
    enum class Pattern { bars, flat };

    struct Settings {
        int width = 1280;
        int height = 720;
        /// Frames per second as a fraction (30000/1001 for 29.97); 24 to 60 frames per second.
        int rateNumerator = 30;
        int rateDenominator = 1;
        bool tenBit = false;  ///< P010 instead of NV12
        Pattern pattern = Pattern::bars;
        std::array<float, 3> flatColor{0.5f, 0.5f, 0.5f};  ///< red, green, blue 0…1, for `Pattern::flat`
        double toneHertz = 1000;  ///< 0 for no sound
        int sampleRate = 48000;
    };

    explicit SyntheticSource(Settings settings);
    ~SyntheticSource() override;

    bool start(Callbacks callbacks) override;
    void stop() override;

    const Settings& settings() const { return settings_; }
    double framesPerSecond() const;

    /// Picture number `index` of the sequence, the same whenever it is asked for. Null when the size is not
    /// positive and even.
    static SharedFrame makePicture(const Settings& settings, std::int64_t index);
    /// `count` mono float samples of the tone, starting at sample `first`.
    static SharedFrame makeTone(const Settings& settings, std::int64_t first, int count);

private:
    void run(Callbacks callbacks);

    Settings settings_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace morvane
