#pragma once

// Reads what a movie file holds without decoding it: its tracks, their time ranges, picture size, orientation,
// frame duration and sound format.

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace morvane {

/// A media time as a rational number of seconds, `value` / `timescale`. A timescale of 0 or less is invalid.
struct MediaTime {
    std::int64_t value = 0;
    std::int32_t timescale = 0;

    static constexpr MediaTime zero() { return {0, 1}; }
    static constexpr MediaTime invalid() { return {0, 0}; }
    /// Seconds rounded to the nearest tick of `timescale`; a non-finite or out-of-range value is invalid.
    static MediaTime fromSeconds(double seconds, std::int32_t timescale);

    bool isValid() const { return timescale > 0; }

    /// Orders two valid times exactly, whatever their timescales: -1, 0 or 1. Invalid times order before valid ones
    /// and equal each other.
    static int compare(MediaTime a, MediaTime b);
    /// The sum and the difference, in the least common multiple of the timescales when that fits 32 bits (then
    /// exact), else in the larger timescale, rounded to its nearest tick. Invalid when either time is invalid or
    /// the result does not fit.
    static MediaTime add(MediaTime a, MediaTime b);
    static MediaTime subtract(MediaTime a, MediaTime b);
    /// This time as a whole number of ticks of `scale` (a sample rate, say), rounded to the nearest, halves away
    /// from zero; none when invalid or out of range.
    std::optional<std::int64_t> ticks(std::int64_t scale) const;

    double seconds() const { return isValid() ? double(value) / double(timescale) : std::nan(""); }

    /// The same instant, whatever the timescales (1/2 equals 300/600); invalid times equal only each other.
    friend bool operator==(const MediaTime& a, const MediaTime& b) {
        if (!a.isValid() || !b.isValid()) return a.isValid() == b.isValid();
        __extension__ using Wide = __int128;
        return Wide(a.value) * b.timescale == Wide(b.value) * a.timescale;
    }
};

/// A 2-D affine transform, mapping (x, y) to (a·x + c·y + tx, b·x + d·y + ty).
struct AffineTransform {
    double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;

    static constexpr AffineTransform identity() { return {}; }
    static AffineTransform translation(double x, double y) { return {1, 0, 0, 1, x, y}; }
    static AffineTransform scale(double sx, double sy) { return {sx, 0, 0, sy, 0, 0}; }

    /// This transform followed by `then`.
    AffineTransform concatenating(const AffineTransform& then) const;
    /// The inverse; none when the transform is degenerate.
    std::optional<AffineTransform> inverted() const;
    bool isIdentity() const { return *this == AffineTransform{}; }

    struct Point {
        double x = 0, y = 0;
    };
    struct Rect {
        double x = 0, y = 0, width = 0, height = 0;
        double minX() const { return x; }
        double minY() const { return y; }
        double maxX() const { return x + width; }
        double maxY() const { return y + height; }
    };
    Point apply(Point p) const { return {a * p.x + c * p.y + tx, b * p.x + d * p.y + ty}; }
    /// The smallest upright rectangle holding the transformed rectangle.
    Rect apply(const Rect& r) const;

    friend bool operator==(const AffineTransform&, const AffineTransform&) = default;
};

/// What a movie file holds, read from its container.
struct AssetProbe {
    enum class Kind { video, audio };

    struct TimeRange {
        double start = 0;     ///< seconds on the movie's time line
        double duration = 0;  ///< seconds
        double end() const { return start + duration; }
        friend bool operator==(const TimeRange&, const TimeRange&) = default;
    };

    struct Track {
        Kind kind = Kind::video;
        int streamIndex = 0;                 ///< the stream's index in the container
        std::string codec;                   ///< FFmpeg's codec name
        std::optional<TimeRange> timeRange;  ///< none when the container does not say

        // Picture tracks.
        int width = 0;  ///< stored (natural) size, before orientation
        int height = 0;
        AffineTransform transform;                  ///< how the stored picture is turned for display
        std::optional<MediaTime> minFrameDuration;  ///< the shortest frame interval, when known
        double frameRate = 0;                       ///< nominal frames per second, 0 when unknown

        // Sound tracks.
        int sampleRate = 0;
        int channels = 0;
    };

    /// Every usable track, in the container's order. Tracks that cannot be decoded here, cover pictures and
    /// pictures of unreasonable size are left out.
    std::vector<Track> tracks;
    std::optional<double> duration;  ///< the container's duration in seconds, when it gives one
    double startTime = 0;            ///< the container's start offset in seconds

    std::vector<Track> tracksOf(Kind kind) const;
    const Track* firstTrack(Kind kind) const;

    /// Opens and reads a movie; none (with the reason in `error`) when it cannot be opened or read. Only local
    /// files are read, and only through the movie demuxers.
    static std::optional<AssetProbe> load(const std::filesystem::path& file, std::string* error = nullptr);

    /// Pictures wider or taller than this are not used: a hostile size must not make us allocate without bound.
    static constexpr int maxDimension = 8192;
};

}  // namespace morvane
