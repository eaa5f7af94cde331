#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/video_frame.h"

namespace morvane {

/// A picture size and frame rate a source delivers; the rate as a fraction (30000/1001 for 29.97).
struct SourceMode {
    int width = 0;
    int height = 0;
    int rateNumerator = 30;
    int rateDenominator = 1;

    double fps() const { return rateDenominator > 0 ? static_cast<double>(rateNumerator) / rateDenominator : 0; }
    friend bool operator==(const SourceMode&, const SourceMode&) = default;
};

/// Of the modes, the one closest to the wanted size (the least sum of the differences in width and height, the
/// smaller of two as near) and, of
/// that size, the rate nearest to `fps` (the faster of two as near, so a recorder drops rather than repeats
/// pictures). None for no modes.
std::optional<SourceMode> closestMode(const std::vector<SourceMode>& modes, int width, int height, double fps);

/// Picture sizes the camera can film: from one 16x16 block up to H.264's largest picture (8192x4320 pixels in
/// all, 8192 on a side).
struct FilmableSize {
    static constexpr int minSide = 16;
    static constexpr int maxSide = 8192;
    static constexpr long long maxPixels = 8192LL * 4320;
    static bool contains(int width, int height) {
        return width >= minSide && height >= minSide && width <= maxSide && height <= maxSide &&
               static_cast<long long>(width) * height <= maxPixels;
    }
};

/// The picture settings a source applies: none of an optional means automatic.
struct PictureSettings {
    float exposureBias = 0;         ///< stops, under automatic exposure
    std::optional<float> iso;       ///< manual exposure: both set
    std::optional<double> shutter;  ///< seconds
    std::optional<float> kelvin;    ///< manual white balance
    float tint = 0;
    std::optional<float> focus;  ///< manual focus: 0 near … 1 far
    double zoom = 1;

    friend bool operator==(const PictureSettings&, const PictureSettings&) = default;
};

/// What a source can set of its picture.
struct SourceCapabilities {
    bool exposureBias = false;
    bool manualExposure = false;
    float minISO = 0, maxISO = 0;
    double minShutter = 0, maxShutter = 0;  ///< seconds
    bool manualWhiteBalance = false;
    bool manualFocus = false;
    double maxZoom = 1;

    friend bool operator==(const SourceCapabilities&, const SourceCapabilities&) = default;
};

/// Where a camera's pictures and sound come from. A source delivers on a thread of its own, one frame at a time
/// and in capture order, from `start` until `stop` returns. A capture thread stuck in its device is left behind
/// by `stop` rather than waited for: it delivers nothing more and frees what it holds once the device lets go.
class CaptureSource {
public:
    struct Callbacks {
        std::function<void(const VideoFrame&)> onVideo;
        std::function<void(const AudioFrame&)> onAudio;
        /// The source stopped by itself (device gone, read error); called once, on the source's thread.
        std::function<void(const std::string&)> onFailure;
        /// The microphone stopped giving sound while the pictures go on (its input named), or gives it again
        /// (none); on the source's thread.
        std::function<void(const std::optional<std::string>&)> onMicrophone;
    };

    virtual ~CaptureSource() = default;

    /// Starts delivering. False, with nothing delivered, when the source cannot start (or already runs).
    virtual bool start(Callbacks callbacks) = 0;
    /// Stops delivering; no callback runs once it returns. Must not be called from a callback.
    virtual void stop() = 0;
    /// For pictures that stopped while the source runs (a driver stuck, a camera unplugged): opens the pictures
    /// anew, on their own where `restartsPicturesAlone`, the sound going on meanwhile whatever comes of it; else
    /// the whole source restarts. False when the pictures cannot be had now. A source not running starts whole with
    /// `callbacks`. Not from a callback.
    virtual bool restartPictures(const Callbacks& callbacks) {
        stop();
        return start(callbacks);
    }
    virtual bool restartsPicturesAlone() const { return false; }
    /// Whether the source records sound (a microphone is named, whether or not it gives anything): its takes are
    /// to hold sound, and one that holds less is told.
    virtual bool hasMicrophone() const { return true; }
    /// A new, stopped source of the same pictures in the same mode, to take over from this one should it be stuck
    /// for good; none when there can be no other.
    virtual std::unique_ptr<CaptureSource> replacement() const { return nullptr; }
    /// How many of its threads `stop` left behind, stuck in the device, that have not let go yet. Any thread, at
    /// once, however stuck the source is.
    virtual int threadsLeftBehind() const { return 0; }
    /// The sound input named for the source when it gave nothing as the source started (its name as given): the
    /// pictures go on without sound. None while the sound runs, or when none was named. Any thread.
    virtual std::optional<std::string> silentMicrophone() const { return std::nullopt; }

    /// The sizes and rates the source can deliver; empty when it cannot tell.
    virtual std::vector<SourceMode> modes() const { return {}; }
    /// The mode it delivers (or will, once started).
    virtual std::optional<SourceMode> mode() const { return std::nullopt; }
    /// Switches to the mode closest to `wanted` (a running source restarts with the same callbacks). False when
    /// the source cannot switch or restart: it keeps, and runs in, the mode it had. Not from a callback.
    virtual bool setMode(const SourceMode& wanted) {
        (void)wanted;
        return false;
    }
    virtual SourceCapabilities capabilities() const { return {}; }
    /// Applies what the source can of the settings and returns what it applied: a setting it lacks comes back
    /// automatic (zoom 1, bias 0).
    virtual PictureSettings applyPicture(const PictureSettings& wanted) {
        (void)wanted;
        return {};
    }

    /// How far the picture is turned from upright, in degrees: 0, 90, 180 or 270.
    int captureAngle() const { return angle_.load(); }
    /// Any angle is taken to the nearest of the four quarter turns (359 is 0, -90 is 270).
    void setCaptureAngle(double degrees);

    /// The nearest quarter turn of any angle, in degrees 0, 90, 180 or 270; 0 for a non-finite angle.
    static int normalizedAngle(double degrees);

protected:
    /// For `setMode`: stops, takes the mode `next` with `take`, and starts again with `callbacks` when it was
    /// `running`. A start that fails takes `previous` back and starts in it; false then.
    bool restartIn(const SourceMode& next, const SourceMode& previous, bool running, const Callbacks& callbacks,
                   const std::function<void(const SourceMode&)>& take);
    /// The same for a source that restarts only part of itself in another mode: takes `next` and, when it was
    /// `running`, calls `restart`; one that fails takes `previous` back and restarts in it.
    bool restartIn(const SourceMode& next, const SourceMode& previous, bool running,
                   const std::function<void(const SourceMode&)>& take, const std::function<bool()>& restart);

private:
    std::atomic<int> angle_{0};
};

}  // namespace morvane
