#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <variant>

#include "platform/date.h"
#include "platform/video_frame.h"

namespace morvane {

/// How a take's picture is compressed.
struct MovieVideoSettings {
    enum class Codec { h264, hevc, proRes };

    Codec codec = Codec::hevc;
    int width = 0;
    int height = 0;
    /// ProRes flavour: 0 Proxy, 1 LT, 2 422, 3 HQ, 4 4444, 5 4444 XQ.
    int proResProfile = 3;
    /// Average bits per second; none for ProRes, which has no rate control.
    std::optional<std::int64_t> averageBitRate;
    int expectedFrameRate = 30;
    double maxKeyframeIntervalSeconds = 1;
    bool tenBit = false;  ///< Main10 for HEVC

    friend bool operator==(const MovieVideoSettings&, const MovieVideoSettings&) = default;
    /// "{codec: hevc, width: 3840, …}", for the log line of refused settings.
    std::string description() const;
};

/// How a take's sound is compressed (AAC).
struct MovieAudioSettings {
    int sampleRate = 48000;
    int channels = 1;
    int bitRate = 128000;

    friend bool operator==(const MovieAudioSettings&, const MovieAudioSettings&) = default;
};

/// One take written as a QuickTime movie through FFmpeg: a video track turned by the capture angle (display
/// matrix), a sound track when it is given sound, and a timecode track holding the first frame's time-of-day frame
/// number, with the flags editing applications expect (24-hour maximum, plus drop frame at 29.97 and 59.94).
///
/// Frames and sound are handed over on the caller's thread and compressed on the recorder's own thread. What waits
/// to be compressed is bounded by time: about a second of the compressor's measured pace. When compression falls
/// behind, frames are dropped rather than piling up, and their slots repeat the picture before as a picture of its
/// own at the least cost the format allows (the packet again for an intra-coded format, a picture coded as
/// unchanged for an inter-coded one), so that every slot of the take holds one picture at its rate and the recorder
/// catches up. Sound is never refused for the pictures' sake: it has a bound of its own, far larger. The recorder's
/// thread never waits for the disk: a thread of the take's own brings what was written onto it.
///
/// While a take is written, a journal beside the movie (`journalOf`) lists every sample written and
/// what the movie's index needs, brought to the disk after the samples' bytes about once a second of the take: a take
/// cut off by a crash, a kill or a power cut is finished from it at the next start (`recoverTake`). A take that
/// is finished normally leaves no journal. Room for the index is kept beside the movie (`reserveOf`) and
/// given back when the disk fills: the take ends there and keeps what was written.
class MovieRecorder {
public:
    struct Options {
        MovieVideoSettings video;
        std::optional<MovieAudioSettings> audio;  ///< none: no sound is taken
        std::optional<int> frameRate;             ///< nominal
        bool ntsc = false;
        /// Where the movie is written; required (a take is never written to the system's temporary folder).
        std::optional<std::filesystem::path> destination;
        bool onDrive = false;  ///< the destination is on the external drive, where the take stays
        /// The identity of the camera that records the take, kept in its journal: a take cut off on a drive is
        /// finished by its own camera alone.
        std::string camera;
        std::string cameraName;  ///< and its name, as the crew knows it: another camera names it to its crew
        /// Seconds from this computer's clock to the shared clock: a take's description date is its first
        /// picture's date plus this (kept in the journal for a take that is cut off).
        double clockOffset = 0;
        double rotationDegrees = 0;
        /// The timecode frame number of the first frame, from its capture time (host seconds).
        std::function<std::int32_t(double)> startFrame;
        /// Frames waiting to be compressed, at most, whatever the time they take (a test that hands a take over at
        /// once); none: bounded by time (`queueSeconds`).
        std::size_t queueLimit = 0;
        /// Frames waiting to be compressed, at most, in seconds of the compressor's measured pace; and how long a
        /// finished take's last pictures are still compressed before the rest become repeats.
        double queueSeconds = 1;
        /// When drops happen (monotonic seconds, `hostTime`); a test's stands for the passing of time.
        std::function<double()> clock;
        /// Brings a file's written bytes to the disk (fdatasync): nonzero when they may not be there. A test's stands
        /// for a slow or failing disk.
        std::function<int(int descriptor)> sync;
        /// Called on the thread that hands the pictures over when pictures have been dropped for a few seconds (no
        /// moment's burst: `Pace`): the camera cannot compress this format in real time. From then on few pictures
        /// wait, so that they hold back what reaches the disk.
        std::function<void()> onFallingBehind;
        /// Called there too when a recorder that fell behind has caught up and kept up for a few seconds.
        std::function<void()> onCaughtUp;
    };

    /// Whether the recorder keeps up with its capture, judged by when it takes and drops pictures (the clock's time
    /// then, not the pictures' capture times: a picture queued long ago may be dropped now): it falls behind once it
    /// has been dropping pictures for a few seconds, not for a moment's burst of other work, or sooner once it has
    /// steadily taken some and dropped others for a couple of seconds (a compressor slower than the capture, whose
    /// every picture done makes room for one more: a take shorter than a few seconds is told so too), and has caught
    /// up once it has taken every picture for a few seconds. A time earlier than one already seen counts as that one;
    /// a stretch in which no picture came at all does not part drops.
    struct Pace {
        enum class Change { none, fellBehind, caughtUp };
        static constexpr double lasting = 4;   ///< seconds of drops, never a second apart, that make it behind
        static constexpr double steady = 2;    ///< seconds of drops among pictures taken that make it behind
        static constexpr double caughtUp = 3;  ///< seconds without a drop that end it

        bool behind = false;
        std::optional<double> dropsFrom;  ///< the first drop of those never a second apart
        std::optional<double> lastDrop;
        std::optional<double> lastTaken;
        /// Since `dropsFrom`: pictures dropped, pictures taken, and drops that follow a picture taken (a burst of
        /// other work drops its pictures in a few long runs; a slow compressor in many short ones).
        int droppedSince = 0, takenSince = 0, runsSince = 0;
        bool lastWasDrop = false;

        Change dropped(double now);
        Change taken(double now);
        friend bool operator==(const Pace&, const Pace&) = default;
    };

    /// None when the file cannot be made, no destination is given or the video settings are refused (each logged as
    /// "MovieRecorder: …").
    static std::unique_ptr<MovieRecorder> make(Options options);

    /// Bytes kept free for the index of a movie of `samples` samples, and the buffer still to be written.
    static std::int64_t roomForIndex(std::int64_t samples);
    ~MovieRecorder();
    MovieRecorder(const MovieRecorder&) = delete;
    MovieRecorder& operator=(const MovieRecorder&) = delete;

    const std::filesystem::path& url() const { return url_; }
    bool isOnDrive() const { return isOnDrive_; }
    bool hasAudio() const { return hasAudio_; }
    bool sessionStarted() const;
    /// Wall-clock date at which the first frame was captured.
    std::optional<Date> startDate() const;
    /// Capture time (host seconds) of the first frame.
    std::optional<double> startTime() const;

    /// Every video frame of the take, the first one included. False when the frame was dropped.
    bool append(const VideoFrame& frame);
    /// Sound; before the first video frame it is not written. It is placed by its capture time, like the picture:
    /// the first sound exactly; after it, sound that lies off its time by an interruption (`SoundClock`) leaves
    /// silence or is cut off where it overlaps, and a smaller difference is taken up smoothly, the sound whole.
    bool appendAudio(const AudioFrame& audio);

    /// Compresses what is queued, writes the end of the movie and returns its length in seconds; none when the
    /// movie could not be completed or its pictures could not be converted (sound that cannot be converted leaves the
    /// take without sound from there: `soundLost`). The picture lasts until the end of the latest picture or sound
    /// handed over, and the sound ends with it; after a full disk, until the last picture written. Sound of that
    /// stretch still to come (read after its pictures) is waited for, a little; the recorder takes nothing after this.
    /// A take on a drive keeps its journal, and the recorder its hold on the take until it is gone: the owner removes
    /// the journal once the take is stored, so that a take left on a drive shows that it still has to be, and whose.
    std::optional<double> finish();

    /// Ends the take where its capture stands, before `finish`: at the end of the latest picture or sound handed over.
    /// Pictures and sound captured before that and still on their way (the picture and sound paths lag each other)
    /// are still taken, and `finish` waits for them a little; nothing captured after it is.
    void stop();
    /// No more pictures come (the capture stopped): `finish` waits for none.
    void noMorePictures();

    /// The recorder has fallen behind its capture and not caught up (`Pace`).
    bool fallingBehind() const;
    /// Frames dropped because compression fell behind: the queue was full, or newer pictures waited.
    std::size_t droppedFrames() const;
    /// Slots of the finished movie that repeat the picture before: pictures dropped, or none captured for them.
    std::size_t repeatedPictures() const;
    /// Why the take ended before it was stopped ("the disk is full"); the recorder then takes nothing more and
    /// `finish` keeps what was written.
    std::optional<std::string> failureReason() const;
    /// Sound came that could not be converted: the take goes on without sound from there.
    bool soundLost() const;
    /// The sound of the take's end never came (a source that fell silent or gave none at all, or handed it over too
    /// late): the take's sound ends before its pictures, or it has none.
    bool soundEndLost() const;
    /// The take ended early (`failureReason`) after it was stopped, while what was captured before the stop was still
    /// being written: its end is lost, although the owner was not told during the take.
    bool failedAfterStop() const;

    struct Writer;

private:
    MovieRecorder() = default;
    void run();
    /// Under `lock_`: the take has been captured at least until `end` (host seconds).
    void noteCaptureTime(double end);
    /// Under `lock_`: pictures that may wait to be compressed now.
    std::size_t picturesAllowed() const;

    std::filesystem::path url_;
    bool isOnDrive_ = false;
    bool hasAudio_ = false;
    std::unique_ptr<Writer> writer_;
    int hold_ = -1;  ///< a lock on the take's journal while the recorder lives: no other program finishes it

    mutable std::mutex lock_;
    std::condition_variable wake_;
    std::condition_variable soundCame_;
    std::condition_variable picturesCame_;
    std::deque<std::variant<VideoFrame, AudioFrame>> queue_;
    bool stopped_ = false;            ///< no more pictures: only the sound of the last ones is taken
    std::optional<double> stopTime_;  ///< `stop`: nothing captured from then on is taken
    bool picturesEnded_ = false;      ///< a picture captured after the stop came, or none will
    bool finishing_ = false;
    std::optional<double> startTime_;
    std::optional<Date> startDate_;
    std::size_t dropped_ = 0;
    Pace pace_;  ///< behind: few pictures wait
    bool toldBehind_ = false;
    std::size_t picturesQueued_ = 0, soundsQueued_ = 0;
    double soundQueued_ = 0;  ///< seconds of sound waiting
    std::function<double()> clock_;
    double queueSeconds_ = 1;
    std::optional<double> secondsPerPicture_;  ///< the compressor's measured pace
    std::optional<double> compressingSince_;   ///< the picture being compressed began then
    std::optional<double> compressUntil_;      ///< finishing: pictures not begun by then are repeats
    std::size_t repeated_ = 0;
    std::array<double, 2> afterStop_{};  ///< seconds spent after the stop on pictures and on sound, for the log
    int afterStopPictures_ = 0;
    std::function<void()> onFallingBehind_, onCaughtUp_;
    std::size_t queueLimit_ = 0;        ///< none: by time
    double frameRate_ = 30;             ///< the movie's real rate
    std::optional<double> captureEnd_;  ///< the end of the latest picture or sound handed over, dropped or not
    std::optional<double> soundEnd_;    ///< the end of the latest sound handed over
    double soundDelay_ = 0;             ///< how long after it began that sound was handed over
    std::optional<std::string> failureReason_;
    bool soundLost_ = false;
    bool soundEndLost_ = false;
    bool failedAfterStop_ = false;
    std::thread thread_;
};

}  // namespace morvane
