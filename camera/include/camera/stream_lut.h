#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "camera/color_cube.h"
#include "platform/base64.h"
#include "platform/video_frame.h"
#include "protocol/capture_settings.h"

struct SwsContext;

namespace morvane {

struct PackedCube;

/// Output pictures of one size, reused once nobody holds them any more.
class FramePool {
public:
    /// At most this many pictures are kept; beyond it a picture is made and forgotten after use.
    static constexpr std::size_t capacity = 6;

    /// A picture of that size and format nobody else holds; null when none can be had.
    SharedFrame get(int width, int height, AVPixelFormat format);
    /// True when the last `get` had to make the pool anew (a new size).
    bool remadeLastTime() const { return remade_; }

private:
    int width_ = 0, height_ = 0;
    AVPixelFormat format_ = AV_PIX_FMT_NONE;
    std::vector<SharedFrame> frames_;
    bool remade_ = false;
};

/// The monitoring stage of the camera: scales a captured picture down, applies the monitoring LUT, optionally
/// turns it into a false-colour or clipping view, draws focus peaking and zebra stripes, and renders the result
/// as a BGRA picture tagged Rec.709, for the camera's preview and the live stream. It also makes the scope and
/// loupe pictures through the same LUT. Used from the capture pipeline's data queue only.
class StreamLUT {
public:
    /// The pass-through stage: name "None", no LUT.
    explicit StreamLUT(double maxLongSide);
    /// A stage with a LUT.
    StreamLUT(std::string name, std::shared_ptr<const ColorCube> filter, double maxLongSide);
    ~StreamLUT();
    StreamLUT(const StreamLUT&) = delete;
    StreamLUT& operator=(const StreamLUT&) = delete;

    const std::string& name() const { return name_; }
    bool hasFilter() const { return filter_ != nullptr; }
    double maxLongSide() const { return maxLongSide_; }

    /// The output size for a picture: scaled to at most `maxLongSide` on its long side (never enlarged), each side
    /// truncated and then rounded down to even.
    static std::pair<int, int> outputSize(int width, int height, double maxLongSide);

    /// The monitoring picture of one frame, or null when it cannot be made.
    SharedFrame apply(const VideoFrame& frame, const ExposureAids& aids);
    /// A pooled BGRA picture of that size.
    SharedFrame makePool(int width, int height);
    const FramePool& pool() const { return pool_; }

    /// The scope payload (kind, width, height, brightness bytes) of the frame seen through the LUT and turned by
    /// `rotation` quarter turns; none for `ScopeKind::off`.
    std::optional<Bytes> scopePicture(const VideoFrame& frame, ScopeKind kind, std::uint8_t rotation);
    /// A JPEG of the square around `centre` (0…1 on both axes, y from the top; anything else is taken as the
    /// middle and clamped), a fifth of the frame's shorter side, through the LUT, with focus contours when asked,
    /// turned and at most 400 pixels on a side. None when the frame is too small for a loupe.
    std::optional<Bytes> loupePicture(const VideoFrame& frame, bool contours, std::uint8_t rotation,
                                      std::array<double, 2> centre);

    // The picture operations, in place on BGRA pixels.
    static void colorCubeFilter(const ColorCube& cube, AVFrame& bgra);
    static void peakingOverlay(AVFrame& bgra, PeakingLevel level);
    static void zebraOverlay(AVFrame& bgra);

    /// "CIEdges"-like intensity and mask threshold of each peaking level.
    static std::pair<double, double> peakingParameters(PeakingLevel level);

private:
    static void applyPacked(const PackedCube& cube, AVFrame& bgra);
    /// The frame (or the part `crop` of it: left, top, width, height) scaled to `width` × `height` BGRA into `out`.
    bool render(const AVFrame& frame, std::array<int, 4> crop, AVFrame& out);

    std::string name_;
    std::shared_ptr<const ColorCube> filter_;
    std::shared_ptr<const PackedCube> packedFilter_;  // the filter in the per-pixel loop's form
    double maxLongSide_;
    FramePool pool_;
    SwsContext* sws_ = nullptr;
};

/// The 64-bin luminance histogram of a frame (bin 0 darkest, the fullest bin 255).
class HistogramMaker {
public:
    HistogramMaker();
    ~HistogramMaker();
    HistogramMaker(const HistogramMaker&) = delete;
    HistogramMaker& operator=(const HistogramMaker&) = delete;

    std::optional<std::array<std::uint8_t, 64>> histogram(const VideoFrame& frame);

private:
    SwsContext* sws_ = nullptr;
};

/// How the camera's own LUT preview is laid over its capture preview, turned and mirrored like it.
struct LUTPreviewLayout {
    double width = 0, height = 0;   ///< the layer's bounds
    double centerX = 0, centerY = 0;
    double rotationRadians = 0;
    bool mirrored = false;

    friend bool operator==(const LUTPreviewLayout&, const LUTPreviewLayout&) = default;
};

/// The layer's geometry for a preview of `width` × `height` at `angleDegrees` (a sideways angle swaps the
/// layer's sides).
LUTPreviewLayout lutPreviewLayout(double width, double height, double angleDegrees, bool mirrored);

}  // namespace morvane
