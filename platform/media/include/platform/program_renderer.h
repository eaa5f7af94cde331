#pragma once

// Plays a program described as a plain plan: one picture track and sound tracks made of ranges of source movies
// placed at program times, a transform per picture segment, and a gain per sound track. The same plan drives a
// preview (the picture at any time, the sound of any range) and the movie export.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/asset_probe.h"
#include "platform/ffmpeg_handles.h"

namespace morvane {

class ProgramRenderer {
public:
    enum class MediaKind { video, audio };

    /// A stretch of a track: a range of one source stream placed at a program time, or empty time.
    struct Segment {
        std::optional<int> asset;  ///< index into `Plan::assets`; none for empty time
        int stream = -1;           ///< the stream's index in that file
        MediaTime sourceStart = MediaTime::zero();
        MediaTime at = MediaTime::zero();  ///< where it plays in the program
        MediaTime duration = MediaTime::zero();

        bool isEmpty() const { return !asset.has_value(); }
        friend bool operator==(const Segment&, const Segment&) = default;
    };

    struct Track {
        int trackID = 0;
        MediaKind kind = MediaKind::video;
        std::vector<Segment> segments;  ///< in program order, back to back from 0

        /// Program seconds up to the end of the last segment.
        double duration() const;
        friend bool operator==(const Track&, const Track&) = default;
    };

    /// Tracks of inserted source ranges and empty time, edited like a tape: an insertion before a track's end
    /// moves everything after it later; one past the end leaves empty time in between.
    struct Composition {
        std::vector<Track> tracks;

        /// Adds a track and returns its identifier (1, 2, …).
        int addTrack(MediaKind kind);
        Track* track(int trackID);
        const Track* track(int trackID) const;

        /// Inserts `duration` of the source stream from `sourceStart`, at program time `at`. Fails (false, with
        /// the reason) for an unknown track or an invalid or negative time; an empty range places nothing.
        bool insertTimeRange(int trackID, int asset, int stream, MediaTime sourceStart, MediaTime duration,
                             MediaTime at, std::string* error = nullptr);
        /// Inserts empty time into every track.
        void insertEmptyTimeRange(MediaTime at, MediaTime duration);

        /// The longest track's duration in seconds.
        double duration() const;
        friend bool operator==(const Composition&, const Composition&) = default;
    };

    struct TransformChange {
        MediaTime at;
        AffineTransform transform;
        friend bool operator==(const TransformChange&, const TransformChange&) = default;
    };

    /// How one picture track is placed in the frame: a transform that changes at given times, at once.
    struct LayerInstruction {
        int trackID = 0;
        std::vector<TransformChange> transforms;

        void setTransform(const AffineTransform& transform, MediaTime at);
        /// The transform of the last change at or before `seconds`; the identity before the first.
        AffineTransform transformAt(double seconds) const;
        friend bool operator==(const LayerInstruction&, const LayerInstruction&) = default;
    };

    struct Instruction {
        MediaTime start = MediaTime::zero();
        MediaTime duration = MediaTime::zero();
        std::vector<LayerInstruction> layers;  ///< the first one is drawn
        friend bool operator==(const Instruction&, const Instruction&) = default;
    };

    struct VideoComposition {
        double renderWidth = 1920;
        double renderHeight = 1080;
        MediaTime frameDuration{1, 30};
        std::vector<Instruction> instructions;
        friend bool operator==(const VideoComposition&, const VideoComposition&) = default;
    };

    struct AudioMix {
        struct InputParameters {
            int trackID = 0;
            float volume = 1;
            friend bool operator==(const InputParameters&, const InputParameters&) = default;
        };
        std::vector<InputParameters> inputParameters;
        friend bool operator==(const AudioMix&, const AudioMix&) = default;
    };

    /// Everything needed to play or export a program.
    struct Plan {
        Composition composition;
        std::vector<std::filesystem::path> assets;  ///< the source movies that segments name by index
        VideoComposition videoComposition;
        std::optional<AudioMix> audioMix;  ///< none: every sound track at gain 1
        friend bool operator==(const Plan&, const Plan&) = default;
    };

    /// A picture as packed RGBA bytes, four per pixel, row after row.
    struct Picture {
        int width = 0;
        int height = 0;
        std::vector<std::uint8_t> rgba;
    };

    static constexpr int sampleRate = 48000;
    static constexpr int channels = 2;

    explicit ProgramRenderer(Plan plan);
    ~ProgramRenderer();
    ProgramRenderer(const ProgramRenderer&) = delete;
    ProgramRenderer& operator=(const ProgramRenderer&) = delete;

    const Plan& plan() const;
    /// The program's length in seconds: the end of the picture track.
    double duration() const;
    /// Frames of the program at the video composition's frame duration.
    std::int64_t frameCount() const;
    /// The frame size in pixels: the render size, rounded to even numbers.
    int width() const;
    int height() const;
    /// True when some sound track holds a source range.
    bool hasSound() const;

    /// The picture shown at a program time: black where no source shows.
    Picture pictureAt(double programTime);
    /// The sound of [start, start + duration) as interleaved stereo samples at `sampleRate`.
    std::vector<float> soundRange(double start, double duration);

    /// Frame `index` in 4:2:0 planar YUV at the frame size, its pts set to `index`.
    ff::Frame renderFrame(std::int64_t index);
    /// Writes `count` stereo samples from program sample `start` into `interleaved` (overwritten, mixed, clipped).
    void mixSound(std::int64_t start, int count, float* interleaved);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace morvane
