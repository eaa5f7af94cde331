#pragma once

#include <QColor>
#include <QImage>
#include <QMetaObject>
#include <QObject>
#include <QPointF>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "link/peer_id.h"
#include "platform/base64.h"
#include "platform/date.h"
#include "platform/dispatch_queue.h"
#include "platform/uuid.h"
#include "protocol/camera_command.h"
#include "protocol/deck_edit.h"
#include "protocol/gallery.h"
#include "protocol/packet_type.h"
#include "protocol/transfer_info.h"
#include "remote/camera_feed.h"
#include "remote/camera_link.h"
#include "remote/camera_numbering.h"
#include "remote/notice_board.h"

namespace morvane {

class Defaults;
class RetouchLibrary;
class ShootLibrary;
class USBHub;
class VideoReceiver;
class VoiceTrigger;

/// Everything the controller reaches outside itself; defaults are the application's own.
struct MonitorEnvironment {
    /// The main queue: delayed clears, time-outs, the statistics timer, work moved off the delivery thread.
    std::shared_ptr<Executor> mainExecutor;
    /// The wall clock.
    std::function<Date()> now;
    Defaults* defaults = nullptr;
    ShootLibrary* shootLibrary = nullptr;
    RetouchLibrary* retouchLibrary = nullptr;
    /// Where a received file goes when it cannot be filed; default: "Unfiled captures" in the data folder.
    std::filesystem::path fallbackFolder;
    /// Makes the monitor-role link (maxCameras); default: one that receives files in ".incoming" inside the shoot
    /// folder. Whatever session it makes, `start` has files arrive in ".incoming" inside the shoot folder in use when
    /// each one starts.
    std::function<std::shared_ptr<CameraLink>(int)> makeLink;
    std::function<std::shared_ptr<USBHub>()> makeUSBHub;
    std::function<std::shared_ptr<VideoReceiver>()> makeReceiver;
    std::function<std::shared_ptr<VoiceTrigger>()> makeVoiceTrigger;
};

/// The amber accent of counting badges (sRGB 1.0, 0.784, 0.239), one for the whole application.
const QColor& accentAmber();

/// The remote's brain: one feed per connected camera, every packet from the cameras applied, commands to one
/// camera or all, the live program cut, each camera's stream sized to what the screen shows, the silence watch,
/// received files filed, gallery previews fetched.
///
/// Published state and every operation live on the main thread, except the intake of packets and files, which
/// runs on the link's delivery thread (and the USB hub's thread) and touches only the tables under
/// `receiversLock`. Made through `create`; callbacks handed to other components hold it weakly.
class MonitorController : public QObject, public std::enable_shared_from_this<MonitorController> {
    Q_OBJECT
public:
    using FeedPtr = std::shared_ptr<CameraFeed>;
    using Peer = CameraLink::Peer;
    using NearbyCamera = CameraLink::NearbyCamera;
    using PairingRequest = CameraLink::PairingRequest;

    /// A transfer announced by a camera, waiting for its file.
    struct IncomingFile {
        TransferInfo info;
        std::string camera;
    };

    using Environment = MonitorEnvironment;

    // Settings keys.
    static constexpr const char* livePicturesKey = "deckLivePictures";
    static constexpr const char* collectsTakesKey = "deckCollectsTakes";
    static constexpr const char* showHistogramKey = "showHistogram";
    static constexpr const char* cameraOrderKey = "cameraOrder";
    static constexpr const char* cameraNumbersKey = "cameraNumbers";
    static constexpr const char* importsFilesKey = "importsFiles";
    /// The occurrences of notices the crew dismissed, oldest first: not shown again, also after a restart.
    static constexpr const char* dismissedNoticesKey = "dismissedNotices";

    static constexpr double messageDuration = 2.5;
    /// How long a notice that asks the operator to know or act shows: long enough to read from across the room
    /// mid-show.
    static constexpr double noticeDuration = 6.0;
    static constexpr double lostCameraNoticeDuration = noticeDuration;
    static constexpr double statsInterval = 1.0;
    static constexpr double sharedLinkStopDelay = 30.0;
    static constexpr double previewTimeout = 15.0;
    static constexpr double transferHelloSpacing = 10.0;
    static constexpr double keptFilingInterval = 30.0;
    /// Announced transfers kept at most; the oldest is forgotten first.
    static constexpr std::size_t incomingLimit = 512;
    /// Captures whose preview may be awaited at once per camera.
    static constexpr std::size_t previewRequestLimit = 64;
    /// Seconds a camera has to confirm a cut this remote sent; until then its word on the program is not taken.
    static constexpr double programCutGrace = 10.0;

    /// Stream settings of a camera by what the screen shows.
    struct StreamSetting {
        std::int64_t bitRate = 0;
        std::int64_t size = 0;
        friend bool operator==(const StreamSetting&, const StreamSetting&) = default;
    };
    /// The row for a camera shown among `shownCount` cameras, or for one not shown.
    static StreamSetting streamSetting(bool shown, std::size_t shownCount);

    /// The remote screen passes 4, true and a clock offset of 0.
    static std::shared_ptr<MonitorController> create(int maxCameras, bool sharedLink,
                                                     std::function<double()> clockOffset, Environment environment = {});
    ~MonitorController() override;

    // Lifecycle.
    void start();
    void stop();
    bool isStarted() const { return started_; }

    /// The setting "importsFiles", true when absent or not a Boolean; read anew at every use.
    bool importsFiles() const;
    static bool importsFiles(const Defaults& defaults);
    /// Whether the cameras are told to send their captures here (`monitorHello`): when this remote files them in
    /// its shoot library. A deck never is: it collects its copies by asking for them, and a capture sent to it
    /// would never reach the shoot library of the remote beside it.
    bool takesCaptures() const;

    /// Shows a short text for 2.5 s (or as long as given), or until a newer text comes; while a notice that matters
    /// shows, it waits its turn.
    void showMessage(const std::string& text, double seconds = messageDuration);
    /// Shows a text the operator needs to know or act on for `noticeDuration`, never hidden by another: what comes
    /// meanwhile waits. A notice under a key takes the place of the one still shown or waiting under it.
    void showNotice(const std::string& text, const std::string& key = {});
    /// Posts a notice as it is (a notice that stays shows until `dismissNotice`).
    void postNotice(NoticeBoard::Notice notice);
    /// The staying notice `id` has been read.
    void dismissNotice(std::uint64_t id);

    // The application-wide link.
    /// The shared link with the camera limit set, and whether it was already running.
    static std::pair<std::shared_ptr<CameraLink>, bool> adoptSharedLink(int maxCameras, const Environment& environment);
    /// Schedules the stop of the shared link 30 s ahead, or stops another link at once.
    static void releaseSharedLink(const std::shared_ptr<CameraLink>& link, const Environment& environment);
    static void stopSharedLink();
    /// The shared link now, if any (main thread).
    static std::shared_ptr<CameraLink> sharedLinkNow();

    // Published state.
    const std::vector<FeedPtr>& feeds() const { return feeds_; }
    const std::optional<PeerId>& selectedID() const { return selectedID_; }
    void setSelectedID(std::optional<PeerId> id);
    const std::optional<PeerId>& soloID() const { return soloID_; }
    /// Every assignment brings the stream settings in line.
    void setSoloID(std::optional<PeerId> id);
    const std::map<PeerId, std::int64_t>& sentBitRates() const { return sentBitRates_; }
    const std::map<PeerId, std::int64_t>& sentSizes() const { return sentSizes_; }
    bool shutterAllCameras() const { return shutterAllCameras_; }
    void setShutterAllCameras(bool value);
    bool deckMode() const { return deckMode_; }
    void setDeckMode(bool value);
    const std::optional<PeerId>& programID() const { return programID_; }
    /// Deck mode is off while the cameras, recording, say a camera is on air (the remote came back mid-take, or
    /// was started then): one click on the deck switch cuts live again from that camera. Gone when deck mode is
    /// switched either way or no camera records any more.
    bool liveCutOffered() const { return liveCutOffered_; }
    bool livePictures() const { return livePictures_; }
    void setLivePictures(bool value);
    const std::vector<NearbyCamera>& nearbyCameras() const { return nearbyCameras_; }
    /// The link's latest list of ready cameras.
    const std::vector<Peer>& peerList() const { return peerList_; }
    /// The text the band said last, of those it shows.
    const std::optional<std::string>& message() const { return message_; }
    /// Everything the band shows, top to bottom: the notices that stay until read, then the one whose turn it is.
    const std::vector<NoticeBoard::Shown>& notices() const { return shownNotices_; }
    const std::optional<PairingRequest>& pairingRequest() const { return pairingRequest_; }
    bool voiceEnabled() const { return voiceEnabled_; }
    const std::optional<std::string>& heardWords() const { return heardWords_; }
    int deckCopiesArriving() const { return deckCopiesArriving_; }
    bool collectsTakesAutomatically() const { return collectsTakesAutomatically_; }
    void setCollectsTakesAutomatically(bool value);
    bool showHistogram() const { return showHistogram_; }
    void setShowHistogram(bool value);

    // Plain state.
    bool videoWanted() const { return videoWanted_; }
    bool isMasterCamera() const { return isMasterCamera_; }
    void setMasterCamera(bool value) { isMasterCamera_ = value; }
    bool collectsDeckCopies() const { return collectsDeckCopies_; }
    void setCollectsDeckCopies(bool value) { collectsDeckCopies_ = value; }
    const std::shared_ptr<CameraLink>& peers() const { return peers_; }
    int cameraLimit() const { return cameraLimit_; }
    double clockOffset() const;
    bool adoptsLink() const { return adoptsLink_; }
    bool hasStatsTimer() const { return statsTimer_ != nullptr; }
    const std::shared_ptr<USBHub>& usbHub() const { return usbHub_; }
    const std::shared_ptr<VoiceTrigger>& voice() const { return voice_; }
    bool observesDeckEdits() const { return static_cast<bool>(deckEditObserver_); }
    const std::vector<std::string>& cameraOrder() const { return cameraOrder_; }
    const std::map<PeerId, int>& silentSeconds() const { return silentSeconds_; }
    const std::set<PeerId>& repairRequested() const { return repairRequested_; }
    const Environment& environment() const { return env_; }

    // Tables shared with the delivery thread (each read takes `receiversLock`).
    std::shared_ptr<VideoReceiver> receiver(const PeerId& peer) const;
    std::optional<IncomingFile> incomingFile(const std::string& key) const;
    std::size_t incomingCount() const;
    std::optional<std::string> cameraName(const PeerId& peer) const;

    // Camera set.
    void registerReceiver(const PeerId& peer);
    void peerDisconnected(const PeerId& peer);
    void updatePeers(const std::vector<Peer>& peers);
    /// Tells the user that a camera's link was lost and whether it is being reconnected. A camera being reconnected
    /// keeps its feed, marked reconnecting, until it is back (under any session of its own) or no longer nearby.
    void peerLost(const Peer& peer, bool reconnecting);
    /// The connected camera's number (counted from 1), 0 for none. A camera keeps its number while the remote runs,
    /// also when it drops and comes back, and a paired camera keeps it across restarts; the feeds follow it.
    int cameraNumber(const PeerId& peer) const;
    std::vector<FeedPtr> visibleFeeds() const;
    FeedPtr selectedFeed() const;
    FeedPtr feed(const PeerId& peer) const;
    void moveCamera(const std::string& name, const CameraFeed& target);
    void acceptPairing();
    void cancelPairing();
    void repairConnection(CameraFeed& feed);
    /// The user ends the link to a camera: one being reconnected is no longer waited for either.
    void disconnectCamera(const PeerId& peer);

    // Intake.
    /// The link's data callback; on the delivery thread.
    void handlePeerData(const Bytes& data, const PeerId& peer);
    void routeCameraMessage(const Bytes& data, std::optional<PacketType> kind, const PeerId& peer);
    void handleCameraMessage(const Bytes& data, std::optional<PacketType> kind, CameraFeed& feed);
    void greetCameras();

    // Stream quality and video health.
    void updateStreamQuality();
    void statsTick();
    /// The repeating try of the kept captures: the setting is read at each tick, so turning import on mid-run counts.
    void keptFilingTick();
    /// Takes away the notices of a shoot folder that wasn't there once it is back.
    void shootFolderTick();
    /// At the start: says that the chosen shoot folder isn't there, when it isn't.
    void tellShootFolderAway();
    /// Says that `waiting` captures, the newest `newest`, wait in the fallback folder for the shoot folder.
    void tellKeptWaiting(std::size_t waiting, const std::string& newest);
    void saveDismissedNotices();
    void checkSilence(CameraFeed& feed, bool receiving);
    void restartVideo(CameraFeed& feed);

    // Files. The first three run on the thread that delivers the file. A file that can be neither filed nor kept
    // in the fallback folder throws, so that the link answers it as not received and the camera keeps it.
    void receiveShootFile(const std::filesystem::path& file, const std::string& name, const PeerId& peer);
    /// A peer-link file that arrives after the controller is gone (the shared link outlives it): filed under
    /// its provisional description rather than left for the link to delete.
    static void receiveShootFile(const Environment& environment, const std::filesystem::path& file,
                                 const std::string& name);
    void receiveResource(const std::filesystem::path& file, const std::string& name, const PeerId& peer);
    /// The USB hub's file callback; files whether or not the controller still exists.
    static void importReceivedFile(const std::weak_ptr<MonitorController>& controller, const Environment& environment,
                                   const std::filesystem::path& file, const TransferInfo& info,
                                   const std::string& camera);
    void handleDeckEditExported(const QVariant& object);
    /// Files the captures kept in the fallback folder with their descriptions, oldest first, on a queue of their own;
    /// they wait for the next try when the shoot library still takes none. Runs at `start` and every
    /// `keptFilingInterval` seconds while started (each time the remote imports files), and after every capture filed.
    void fileKeptCaptures();

    // Commands, program cut and markers.
    void send(const CameraCommand& command);
    void sendToCameras(const CameraCommand& command);
    void sendFromControls(const CameraCommand& command, const CameraFeed& feed);
    /// For panels that act on the selected camera.
    void sendFromControls(const CameraCommand& command);
    /// True for the commands that follow "all cameras" in the panels.
    static bool isBroadcastCommand(const CameraCommand& command);
    void shutterFromControls();
    void recordOnEveryCamera();
    /// True while some camera with a status records.
    bool anyCameraRecording() const;
    /// With "All" on and `feed`'s camera in video mode, the shutter of its controls starts and stops every camera
    /// together, as "Record on every camera" does.
    bool recordsTogether(const CameraFeed& feed) const;
    /// What the shutter of `feed`'s controls does when pressed (and so shows): stop recording, or start or shoot.
    bool shutterStopsRecording(const CameraFeed& feed) const;
    void ensureOnAir();
    /// `madeAt`: when the operator asked for it (the press's own time), if it was handled later; never later than now.
    void putOnAir(const CameraFeed& feed, std::optional<Date> madeAt = std::nullopt);
    void putOnAirByIndex(int number, std::optional<Date> madeAt = std::nullopt);
    /// The program as the status of camera `from` gives it. Only a change in what a camera says counts, and only
    /// once the camera has confirmed every cut this remote sent it: an older status never undoes a newer cut. A
    /// camera's first status says what it remembers, which is no cut.
    void noteProgramCut(const std::optional<std::string>& name, const PeerId& from);
    /// `madeAt`: when the operator asked for it, as for `putOnAir`.
    void addMarker(std::optional<Date> madeAt = std::nullopt);
    void getTodaysTakes(Date since);
    void requestTakeAgain(const std::vector<Uuid>& ids);
    /// The point in the live picture's host coordinates; true when a focus command was sent.
    bool focusAt(QPointF point, const CameraFeed& feed);
    void deleteCaptures(const std::vector<GalleryItem>& items, const CameraFeed& feed);

    // Gallery previews.
    /// Calls `completion` once, on the main thread, with the preview or a null image.
    void preview(const Uuid& id, const FeedPtr& feed, CameraFeed::PreviewWaiter completion);
    void requestPreview(const Uuid& id, const FeedPtr& feed, CameraFeed::PreviewWaiter waiter);
    static void deliverPreview(const Uuid& id, const QImage& picture, CameraFeed& feed);

    // Voice words.
    enum class VoiceWord { shutter, record, stop, mark };
    /// The word as stored in the settings, or its default.
    std::string storedWord(VoiceWord word) const;
    /// The voice button: switches the words off, or asks for permission and switches them on.
    void toggleVoice();
    void startVoice(bool granted);
    void voicePermissionText();
    void stopVoice(const std::string& text);
    void voiceOff();
    void voiceShutter();
    void voiceRecord();
    void voiceStop();
    void voiceHeard(const std::string& words);

signals:
    void feedsChanged();
    void selectedIDChanged();
    void soloIDChanged();
    void shutterAllCamerasChanged();
    void deckModeChanged();
    void programIDChanged();
    void liveCutOfferedChanged();
    void livePicturesChanged();
    void nearbyCamerasChanged();
    void messageChanged();
    void pairingRequestChanged();
    void voiceEnabledChanged();
    void heardWordsChanged();
    void deckCopiesArrivingChanged();
    void collectsTakesAutomaticallyChanged();
    void showHistogramChanged();
    /// Some camera started or stopped recording.
    void recordingChanged();

private:
    struct IncomingTable;

    MonitorController(int maxCameras, bool sharedLink, std::function<double()> clockOffset, Environment environment);

    void installPeerCallbacks();
    void setLiveCutOffered(bool value);
    ShootLibrary& shootLibrary() const;
    double clockOffsetSeconds() const;
    RetouchLibrary& retouchLibrary() const;
    bool sendPacket(const Bytes& packet, const PeerId& peer);
    void sendCommand(const CameraCommand& command, const PeerId& peer);
    void answerClockPing(const Bytes& data, const PeerId& peer);
    void rememberTransfer(const Bytes& data, const PeerId& peer);
    void applyStatus(const Bytes& data, CameraFeed& feed);
    void applyEvent(const Bytes& data, CameraFeed& feed);
    void updateStreamQuality(const PeerId* alsoCounted);
    std::shared_ptr<VideoReceiver> createReceiver(const PeerId& peer, const std::string& name);
    std::shared_ptr<VideoReceiver> makeReceiver(const PeerId& peer);
    /// Calls `tick` on the main thread every `interval` seconds while `alive` holds.
    void scheduleEvery(double interval, std::shared_ptr<std::atomic<bool>> alive, void (MonitorController::*tick)());
    void showMessageLater(NoticeBoard::Notice notice);
    static void showMessageLater(const std::weak_ptr<MonitorController>& controller, const Environment& environment,
                                 NoticeBoard::Notice notice);
    void showNoticeFrom(std::optional<NoticeBoard::Showing> showing);
    std::optional<IncomingFile> takeIncoming(const std::string& key);
    void setProgramID(std::optional<PeerId> id);
    void rememberOnAir(const PeerId& peer, const std::string& name, std::optional<Date> since);
    /// At a camera's first status: the camera that was on air when it was lost goes back on air. True when it did.
    bool returnOnAir(const CameraFeed& feed);
    void setMessage(std::optional<std::string> text);
    void setDeckCopiesArriving(int value);
    void numberCameras(const std::vector<FeedPtr>& feeds, const std::vector<Peer>& peers);
    /// The camera the user selected while it is there (also back under a new session), else the first one.
    void followSelection();
    /// Ends the wait for reconnecting cameras that are no longer nearby: the link will not reach them.
    void giveUpCamerasNotNearby();
    void storeCameraNumbers();

    Environment env_;

    // Published.
    std::vector<FeedPtr> feeds_;
    std::optional<PeerId> selectedID_;
    std::optional<PeerId> soloID_;
    std::map<PeerId, std::int64_t> sentBitRates_;
    std::map<PeerId, std::int64_t> sentSizes_;
    bool shutterAllCameras_ = false;
    bool deckMode_ = false;
    std::optional<PeerId> programID_;
    bool liveCutOffered_ = false;
    bool livePictures_ = true;
    std::vector<NearbyCamera> nearbyCameras_;
    std::optional<std::string> message_;  // what `notices_` shows
    std::vector<NoticeBoard::Shown> shownNotices_;
    std::optional<PairingRequest> pairingRequest_;
    bool voiceEnabled_ = false;
    std::optional<std::string> heardWords_;
    int deckCopiesArriving_ = 0;

    bool videoWanted_ = true;
    bool isMasterCamera_ = false;
    bool collectsDeckCopies_ = false;
    bool collectsTakesAutomatically_ = true;
    bool showHistogram_ = false;

    std::shared_ptr<CameraLink> peers_;  // written on the main thread under receiversLock_
    int cameraLimit_;
    std::function<double()> clockOffset_;
    std::shared_ptr<std::atomic<bool>> statsTimer_;
    std::shared_ptr<USBHub> usbHub_;
    std::shared_ptr<VoiceTrigger> voice_;

    mutable std::mutex receiversLock_;
    std::map<PeerId, std::shared_ptr<VideoReceiver>> receivers_;  // under receiversLock_
    std::unique_ptr<IncomingTable> incoming_;                     // under receiversLock_
    std::map<PeerId, std::string> cameraNames_;                   // under receiversLock_

    std::map<PeerId, int> silentSeconds_;
    std::set<PeerId> repairRequested_;

    /// What one camera last said is on air, and the cuts sent to it that it has not confirmed yet, oldest first.
    struct ProgramReport {
        struct Sent {
            std::string camera;
            Date at;
        };
        std::optional<std::string> said;
        std::vector<Sent> unconfirmed;
    };
    std::map<PeerId, ProgramReport> programReports_;
    /// The camera on air by its lasting identity (empty when it has none), so that it is known when it comes back,
    /// and since when (master clock) when known.
    struct OnAir {
        std::string identity;
        std::string name;
        std::optional<Date> since;
    };
    std::optional<OnAir> onAir_;
    QMetaObject::Connection deckEditObserver_;
    bool sharedLink_;
    bool adoptsLink_ = false;
    std::vector<std::string> cameraOrder_;
    NoticeBoard notices_;
    // The cameras named by the lost-link notice still shown or waiting, and whether each is being reconnected.
    std::vector<std::pair<std::string, bool>> lostCameras_;
    CameraNumbering numbering_;
    std::map<PeerId, CameraNumbering::Camera> identities_;    // the connected cameras
    std::map<PeerId, int> cameraNumbers_;                     // the connected cameras
    std::map<PeerId, CameraNumbering::Camera> reconnecting_;  // lost cameras whose feeds wait for them
    std::optional<std::string> selectedIdentity_;             // the lasting identity of the selected camera
    std::vector<Peer> peerList_;                              // the link's latest list
    bool started_ = false;
    // Filing kept captures, off the main thread; emptied before the controller goes.
    std::shared_ptr<std::atomic<bool>> keptFilingQueued_ = std::make_shared<std::atomic<bool>>(false);
    std::unique_ptr<DispatchQueue> keptQueue_ = std::make_unique<DispatchQueue>("morvane.kept-captures");
};

}  // namespace morvane
