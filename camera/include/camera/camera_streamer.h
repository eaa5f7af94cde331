#pragma once

#include <atomic>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "camera/capture_keeper.h"
#include "camera/capture_store.h"
#include "camera/cut_log.h"
#include "camera/external_drive.h"
#include "camera/h264_encoder.h"
#include "camera/movie_recorder.h"
#include "camera/outbox.h"
#include "camera/setting_queue.h"
#include "camera/source_call_limits.h"
#include "camera/stream_lut.h"
#include "camera/take_log.h"
#include "platform/capture_source.h"
#include "platform/defaults.h"
#include "platform/photo_library.h"
#include "protocol/camera_event.h"

namespace morvane {

/// The hub of the camera role: every captured picture and block of sound arrives here on one serial data queue;
/// from there takes start and are recorded, the live stream is fed, the monitoring readings are made, and photos
/// are taken and saved. It reports to its owner only through the callbacks below; user-visible outcomes are
/// `CameraEvent` values delivered on the main queue.
class CameraStreamer : public std::enable_shared_from_this<CameraStreamer> {
public:
    struct Collaborators {
        std::shared_ptr<H264Encoder> encoder;
        std::shared_ptr<CaptureStore> store;
        std::shared_ptr<Outbox> outbox;
        std::shared_ptr<CutLog> cutLog;
        std::shared_ptr<Outbox> deckOutbox;  ///< optional
        /// Optional: each take is written in it before it is queued for the remote.
        std::shared_ptr<TakeLog> takeLog;
        std::shared_ptr<Executor> main;
        std::shared_ptr<Defaults> defaults;  ///< "useVault", "sendToMac"
        std::filesystem::path vaultFolder;
        /// Where takes are recorded, in the camera's own folder: never the system's temporary folder, which is often
        /// in memory and small. A take cut short there is finished at the next start (`recoverTakes`).
        std::filesystem::path recordingFolder;
        std::shared_ptr<PhotoLibrary> photoLibrary;
        std::shared_ptr<ExternalDrive> drive;     ///< optional
        std::function<std::string()> deviceName;  ///< for capture file names
        /// This camera's identity, kept with each take it records: a take cut off on a drive is finished by its own
        /// camera alone.
        std::function<std::string()> cameraIdentity;
        /// Capabilities of this machine's encoders; defaults probe the real ones.
        std::function<bool()> hevcWritable = canWriteHEVCDefault;
        std::function<std::vector<VideoCodec>()> proResWritable = proResDefault;
        /// The session watchdog restarts a source whose pictures stopped for this long (seconds), looking this
        /// often.
        double stallSeconds = 3.0;
        double watchdogInterval = 1.0;
        /// How long calls into the source are waited for, and how many stuck ones are borne.
        SourceCallLimits limits;

        static bool canWriteHEVCDefault();
        static std::vector<VideoCodec> proResDefault();
    };

    /// A finished take, handed to `onTakeFinished` after it was stored.
    using Take = CaptureKeeper::Take;

    static std::shared_ptr<CameraStreamer> make(Collaborators collaborators);
    ~CameraStreamer();

    DispatchQueue& dataQueue() { return dataQueue_; }
    H264Encoder& encoder() { return *c_.encoder; }

    /// Starts delivering from the source (stopping any earlier one), watched by the session watchdog: while the
    /// streamer wants it running, a source whose pictures stop is stopped and started again (only its pictures,
    /// where it can restart them alone: the sound goes on); one that does not
    /// stop within a second, or start within a few, is left behind, stuck, and its `replacement` started instead.
    /// A capture that cannot be started again is reported once as the event "The camera stopped".
    bool start(std::unique_ptr<CaptureSource> source);
    /// Stops the source, waiting no more than a second for it however it behaves.
    void stop();
    CaptureSource* source() { return source_.get(); }
    /// Runs `work` with the source (mode changes, picture settings) in the session queue's turn, never on a
    /// source's own thread; one setting at a time, a newer one of the same `kind` taking the place of one still
    /// waiting. When there is no source, the setting was replaced, another source took over before it ran, or the
    /// source does not answer within a few seconds, `unanswered` runs on the session queue instead. A setting that
    /// does not answer leaves only itself behind: the source goes on delivering, the settings behind it wait for it,
    /// and the remote is told once that the camera does not take its settings.
    void configureSource(const std::string& kind, std::function<void(CaptureSource&)> work,
                         std::function<void()> unanswered = {});
    DispatchQueue& sessionQueue() { return sessionQueue_; }
    /// How often the watchdog restarted the source.
    int sourceRestarts() const { return restarts_.load(); }

    // The data path, for the capture source and for tests that drive it directly. On any thread: each hops onto
    // the data queue. A video frame offered while the queue is far behind is dropped.
    void offerVideo(const VideoFrame& frame);
    void offerAudio(const AudioFrame& audio);

    // Settings read on the data queue: set them with `dataQueue().async` (or before frames flow).
    bool recordingRequested = false;
    VideoCodec codec = VideoCodec::hevc;
    bool recordToDrive = false;
    std::shared_ptr<StreamLUT> previewLUT;
    ExposureAids aids;
    bool histogramEnabled = true;
    std::optional<bool> loupeContours;
    std::array<double, 2> loupeCenter{0.5, 0.5};
    bool stabilizedPreview = false;
    bool photoRequested = false;  ///< the next picture becomes a photo

    // Callbacks: the first group runs on the data queue and must return quickly; `onEvent`, `onRecordingFailed`
    // and `onTakeFinished` run on the main queue.
    std::function<void(const std::array<std::uint8_t, 64>&)> onHistogram;
    std::function<void(const Bytes&)> onScope;
    std::function<void(const Bytes&)> onLoupe;
    std::function<void(std::uint8_t)> onAudioLevel;
    std::function<void(const SharedFrame&)> onPreviewFrame;
    std::function<void(const AudioFrame&)> audioSampleHandler;
    std::function<void(const TakeLog::Entry&)> onTakeSaved;
    std::function<bool()> wantsDeckCopy;
    std::function<void(int)> onDeckCopyWork;
    std::function<void(const CameraEvent&)> onEvent;
    std::function<void()> onRecordingFailed;
    /// The watchdog started the capture again (perhaps on another device put in the place of the first): the
    /// source's settings are to be applied anew. Main queue.
    std::function<void()> onSourceRestarted;
    std::function<void(const Take&)> onTakeFinished;
    /// Deck copies an earlier run was making when it ended, to be made again. Main queue.
    std::function<void(const std::vector<TakeLog::Entry>&)> onDeckCopiesCut;

    // Values the owner writes from any thread, each behind its own lock.
    void setClockOffset(double seconds);
    double clockOffset() const;
    void setRecordingRate(int frameRate, bool ntsc);
    std::pair<int, bool> recordingRate() const;

    /// The rotation byte of a capture angle: rounded, in quarter turns, 0…3.
    static std::uint8_t rotationByte(double angleDegrees);

    /// Whether a take is being recorded (data queue).
    bool isRecording() const { return recorder_ != nullptr; }
    /// Ends the take (data queue): the movie is completed and stored off the data queue, then reported.
    void stopRecording();
    /// Blocks until every take that was stopped has been stored, and what an earlier run left settled (for tests and
    /// shutdown).
    void waitForTakes();
    /// Settles what an earlier run left on the way of its captures (a crash, a kill, a power cut), as `LeftoverPlan`
    /// says: in the recording folder, on each drive now mounted, in the outbox and among the deck copies. Off the data
    /// queue, on the queue that stores takes. What it finds that the crew must know is told as a standing notice of
    /// the take ("take:<file name>").
    void recoverTakes();
    /// The same for the drives alone: when a drive appears.
    void recoverDriveTakes();
    /// Room was made on the disk (a capture left the outbox): a take that could not be finished for want of it is
    /// tried again.
    void roomMade();

    void postEvent(const CameraEvent& event);
    /// What the crew is told of the microphone: `silent` names one that gives no sound; none, that it gives sound
    /// again.
    static CameraEvent microphoneEvent(const std::optional<std::string>& silent);

    /// Saves a photo's encoded data: vault or photo library, gallery entry, `photoSaved`, outbox. Any thread.
    void savePhoto(const Bytes& data, const std::string& extension);

private:
    explicit CameraStreamer(Collaborators collaborators);

    void handleVideo(const VideoFrame& frame);
    void watch(int generation);
    /// For the watchdog: the source's pictures started again, on their own where the source can (session queue).
    bool restartPictures();
    // The source (session queue; the data queue reads its angle under `sourceLock_`).
    CaptureSource::Callbacks sourceCallbacks(const std::shared_ptr<std::atomic<bool>>& live);
    void setSource(std::shared_ptr<CaptureSource> source, CaptureSource::Callbacks callbacks,
                   std::shared_ptr<std::atomic<bool>> live);
    /// Runs `call` with the source and waits a bounded time for it (openings and settings not past a stop): none
    /// when the source did not answer. An opening or stop left behind leaves the source behind for its
    /// replacement, not started; a setting left behind leaves only itself, and `returnedLate` runs (on the call's
    /// thread) should it return.
    std::optional<bool> callSource(SourceCall kind, std::function<bool(CaptureSource&)> call,
                                   std::function<void()> returnedLate = {});
    struct PendingSetting {
        std::function<void(CaptureSource&)> work;
        std::function<void()> unanswered;
    };
    void runSetting(int id);
    void settingReturned(int id);
    bool startSource();
    bool stopSource();
    bool mayRestart() const;
    bool restartSource();
    void tellStopped();
    int captureAngle() const;
    /// Whether takes are to hold sound: the source has a microphone (sound handed over without one counts as one).
    bool hasMicrophone() const;
    void handleAudio(const AudioFrame& audio);
    std::unique_ptr<MovieRecorder> beginRecording(const VideoFrame& frame);
    /// Tells the remote, once, that the camera can't record the chosen format in real time, and when that has
    /// passed (data queue).
    void tellRealTime(bool keepsUp);
    /// The recorder could not go on (a full disk): the take ends, what was written is kept, the remote is told.
    void endFailedTake(const std::string& reason);
    StreamLUT& passthrough();
    bool due(std::optional<double>& stamp, double time, double interval) const;

    Collaborators c_;
    DispatchQueue dataQueue_{"morvane.camera-data"};
    DispatchQueue photoQueue_{"morvane.photo-output"};
    DispatchQueue sessionQueue_{"morvane.capture-session"};
    mutable std::mutex sourceLock_;
    std::shared_ptr<CaptureSource> source_;
    CaptureSource::Callbacks callbacks_;             // session queue
    std::shared_ptr<std::atomic<bool>> sourceLive_;  // false: the source's deliveries are ignored
    std::atomic<int> pendingVideo_{0};
    std::atomic<bool> wantsRunning_{false};
    std::atomic<int> watchGeneration_{0};
    std::atomic<double> lastFrameAt_{0};  ///< host time of the last picture
    std::atomic<int> restarts_{0};
    std::atomic<bool> stopping_{false};
    std::atomic<int> stuckOpens_{0};        ///< openings left behind that have not returned yet
    std::atomic<int> leftBehind_{0};        ///< calls of any kind left behind that have not returned yet
    std::atomic<bool> toldStopped_{false};  ///< "The camera stopped" was told since the capture last ran
    /// Keeps the takes and photos, and settles what an earlier run left; set once by `make`.
    std::shared_ptr<CaptureKeeper> keeper_;
    // Session queue only.
    SettingQueue settings_{c_.limits.callSeconds};
    std::map<int, PendingSetting> pendingSettings_;
    int lastSettingID_ = 0;
    std::unique_ptr<CaptureSource> settingSpare_;  ///< asked for before the setting under way, should it stick

    // Data queue only.
    std::unique_ptr<MovieRecorder> recorder_;
    std::weak_ptr<MovieRecorder> stoppedTake_;  ///< being finished: still takes what was captured before its stop
    std::deque<AudioFrame> soundBeforeTake_;    ///< the last seconds of sound while no take runs
    bool takeOnDrive_ = false;
    SharedFrame takeFirstPicture_;
    bool toldBehind_ = false;  ///< the remote was told the camera can't record in real time
    double takeClockOffset_ = 0;
    std::unique_ptr<StreamLUT> passthrough_;
    std::unique_ptr<HistogramMaker> histogramMaker_;
    std::optional<double> lastPreviewTime_, lastLoupeTime_, lastAudioLevelTime_, lastHistogramTime_, lastScopeTime_;

    mutable std::mutex clockLock_;
    double clockOffset_ = 0;
    mutable std::mutex rateLock_;
    int recordingFrameRate_ = 30;
    bool recordingNTSC_ = false;
};

/// What the crew is told after a take of which `repeated` slots repeat the picture before, `dropped` of them for
/// pictures the recorder could not compress in time: none for the few repeats of an uneven capture.
std::optional<std::string> repeatedPicturesMessage(std::size_t repeated, std::size_t dropped, double frameRate);

}  // namespace morvane
