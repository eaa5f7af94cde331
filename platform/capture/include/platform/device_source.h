#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/capture_source.h"
#include "platform/v4l2_controls.h"

struct SwsContext;

namespace morvane {

/// Turns decoded pictures of any capture format (YUYV, NV12, planar YUV, decoded MJPEG …) into the engine's
/// formats: NV12, or P010 for pictures deeper than 8 bits. Pictures already in an engine format pass untouched.
class PictureConverter {
public:
    PictureConverter();
    ~PictureConverter();
    PictureConverter(const PictureConverter&) = delete;
    PictureConverter& operator=(const PictureConverter&) = delete;

    /// Null when the picture has no usable size or format.
    SharedFrame convert(const AVFrame& picture);

private:
    SwsContext* sws_ = nullptr;
};

/// A video capture device the kernel offers (V4L2).
struct VideoDeviceInfo {
    std::string path;  ///< "/dev/video0"
    std::string name;  ///< the driver's card name
};

/// The devices that can capture video, in path order; empty on a machine without any.
std::vector<VideoDeviceInfo> listVideoDevices();

/// When a picture was captured: the driver's stamp of its buffer when that lies on the host clock, at or shortly
/// before `readAt`, the moment it was read; else `readAt`.
double pictureTime(double deviceStamp, double readAt);

/// A real camera and microphone: a V4L2 video device and, when named, a PulseAudio (or ALSA) sound source, read
/// through FFmpeg's device inputs. Pictures arrive in the engine's formats whatever the device sends (raw YUYV,
/// NV12 or MJPEG); pictures carry the driver's capture stamps, and sound the times its sample count gives
/// (`SoundClock`).
class DeviceSource final : public CaptureSource {
public:
    struct Settings {
        std::string videoDevice = "/dev/video0";
        int width = 1280;
        int height = 720;
        int framesPerSecond = 30;  ///< the rate's numerator (30000 with `rateDenominator` 1001 for 29.97)
        /// The device's format to ask for: "yuyv422", "nv12", "mjpeg", or empty for the device's choice.
        std::string inputFormat;
        /// "pulse:<source>" or "alsa:<device>" ("pulse:default" for the default microphone); empty for none.
        std::string audioDevice;
        int rateDenominator = 1;
    };

    explicit DeviceSource(Settings settings);
    ~DeviceSource() override;

    bool start(Callbacks callbacks) override;
    void stop() override;
    /// From the device's own list, read once.
    std::vector<SourceMode> modes() const override;
    std::optional<SourceMode> mode() const override;
    /// The device's mode closest to `wanted`; the capture restarts in it.
    bool setMode(const SourceMode& wanted) override;
    /// From the device's controls, read once.
    SourceCapabilities capabilities() const override;
    /// Sets the device's controls (exposure, gain, white balance, focus, zoom) and gives what the device holds
    /// then; what it held last when it cannot be opened.
    PictureSettings applyPicture(const PictureSettings& wanted) override;
    std::unique_ptr<CaptureSource> replacement() const override;
    int threadsLeftBehind() const override { return readersLeftBehind_->load(); }

private:
    struct Reader;
    void readDevice() const;

    Settings settings_;
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<Reader>> readers_;
    std::shared_ptr<std::atomic<int>> readersLeftBehind_ = std::make_shared<std::atomic<int>>(0);
    PictureSettings held_;
    Callbacks callbacks_;
    mutable bool deviceRead_ = false;
    mutable std::vector<SourceMode> modes_;
    mutable V4L2ControlTable controls_;
};

}  // namespace morvane
