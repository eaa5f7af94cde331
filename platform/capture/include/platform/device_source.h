#pragma once

#include <memory>
#include <mutex>
#include <string>
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

/// When each picture of a capture was captured: the driver's stamp of its buffer when that lies on the host clock,
/// else the moment it was read. A stamp at or shortly before its read (`reach`) is on the host clock; once a
/// capture's stamps have shown that, an older stamp that still comes after the picture before it is too: a picture
/// captured then and read late, after a driver hang, not a new one.
class PictureClock {
public:
    /// How long before its read a stamp may lie to show that it is on the host clock.
    static constexpr double reach = 2;

    /// `deviceStamp` (NaN for none) of a picture read at `readAt` (host seconds); pictures in capture order.
    double time(double deviceStamp, double readAt);

private:
    bool hostClock_ = false;  ///< the stamps have been seen on the host clock
    double last_ = 0;         ///< the latest stamp taken
};

/// A real camera and microphone: a V4L2 video device and, when named, a sound server's source (PulseAudio, or
/// PipeWire's pulse layer, read through the server's own library) or an ALSA device (through FFmpeg's input).
/// Pictures arrive in the engine's formats whatever the device sends (raw YUYV, NV12 or MJPEG); pictures carry the
/// driver's capture stamps, and sound the times its sample count gives (`SoundClock`). A microphone that gives
/// nothing as it starts leaves the camera filming without sound; a sound server's source removed meanwhile (a
/// microphone unplugged) does too, told through `Callbacks::onMicrophone`, until it is back.
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
    /// Opens the camera anew; the microphone's reader goes on meanwhile, whatever comes of it.
    bool restartPictures(const Callbacks& callbacks) override;
    bool restartsPicturesAlone() const override { return true; }
    bool hasMicrophone() const override { return !settings_.audioDevice.empty(); }
    /// The device's mode closest to `wanted`; the camera opens anew in it, the sound going on.
    bool setMode(const SourceMode& wanted) override;
    /// From the device's controls, read once.
    SourceCapabilities capabilities() const override;
    /// Sets the device's controls (exposure, gain, white balance, focus, zoom) and gives what the device holds
    /// then; what it held last when it cannot be opened.
    PictureSettings applyPicture(const PictureSettings& wanted) override;
    std::unique_ptr<CaptureSource> replacement() const override;
    int threadsLeftBehind() const override { return readersLeftBehind_->load(); }
    std::optional<std::string> silentMicrophone() const override;

private:
    struct Reader;
    void readDevice() const;
    /// The camera opened in the settings' mode, or the device's nearest, read by a reader of its own; none when it
    /// cannot be had by `until` (host time). With `mutex_` held.
    std::shared_ptr<Reader> openPictures(const Callbacks& callbacks, double until);

    Settings settings_;
    mutable std::mutex mutex_;
    std::mutex settingLock_;  ///< one setting of the controls at a time, apart from `mutex_`
    bool running_ = false;
    // The camera's and the microphone's readers, each with a life of its own: the pictures stop, are stuck or open
    // anew while the sound goes on, from `start` to `stop`.
    std::shared_ptr<Reader> pictures_;
    std::shared_ptr<Reader> sound_;
    std::optional<std::string> silentMicrophone_;  ///< the sound input named, when it gave nothing at the start
    std::shared_ptr<Reader> opening_;              ///< the camera's last opening, left behind in its driver
    std::shared_ptr<std::atomic<int>> readersLeftBehind_ = std::make_shared<std::atomic<int>>(0);
    PictureSettings held_;
    Callbacks callbacks_;
    mutable bool deviceRead_ = false;
    mutable std::vector<SourceMode> modes_;
    mutable V4L2ControlTable controls_;
};

}  // namespace morvane
