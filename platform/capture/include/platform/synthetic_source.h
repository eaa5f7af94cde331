#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "platform/capture_source.h"

namespace morvane {

/// A camera without a camera: colour bars over a grey ramp with a white square moving across, or one flat
/// colour, at a steady frame rate, with a sine tone. Used by tests, benchmarks and the camera program where no
/// capture device is named. It runs at any of its listed sizes and any rate, and shows its picture settings as a
/// real camera would: exposure as brightness, white balance as colour balance, manual focus as blur away from
/// the scene's distance, zoom as a centre crop.
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
        double toneHertz = 1000;                           ///< 0 for no sound
        int sampleRate = 48000;
        PictureSettings picture;
    };

    /// The sizes it lists; any even size given at construction is listed too.
    static const std::vector<std::pair<int, int>>& listedSizes();
    /// The rates it lists (it runs at any other as well).
    static const std::vector<std::pair<int, int>>& listedRates();
    /// How far the scene is, as a lens position: manual focus elsewhere blurs it.
    static constexpr float sceneDistance = 0.5f;

    explicit SyntheticSource(Settings settings);
    ~SyntheticSource() override;

    bool start(Callbacks callbacks) override;
    void stop() override;
    std::unique_ptr<CaptureSource> replacement() const override;
    /// Its tone is its microphone.
    bool hasMicrophone() const override;
    std::vector<SourceMode> modes() const override;
    std::optional<SourceMode> mode() const override;
    bool setMode(const SourceMode& wanted) override;
    SourceCapabilities capabilities() const override;
    PictureSettings applyPicture(const PictureSettings& wanted) override;

    /// The settings as they are now (size and rate change with `setMode`, the picture with `applyPicture`).
    Settings settings() const;
    double framesPerSecond() const;

    /// Picture number `index` of the sequence, the same whenever it is asked for. Null when the size is not
    /// positive and even.
    static SharedFrame makePicture(const Settings& settings, std::int64_t index);
    /// `count` mono float samples of the tone, starting at sample `first`.
    static SharedFrame makeTone(const Settings& settings, std::int64_t first, int count);

private:
    void run(Callbacks callbacks);

    Settings settings_;
    mutable std::mutex mutex_;  // guards everything here
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread thread_;
    Callbacks callbacks_;  // kept for a restart in another mode
};

}  // namespace morvane
