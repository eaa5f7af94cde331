#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "camera/camera_streamer.h"
#include "camera/clock_sync.h"
#include "camera/crew_settings.h"
#include "camera/standing_notices.h"
#include "camera/transfer_holds.h"
#include "link/peer_session.h"
#include "link/usb_server.h"
#include "protocol/camera_command.h"
#include "protocol/camera_status.h"

namespace morvane {

/// The device's roll for the level. This machine has no motion sensor, so it reports no reading.
class LevelSensor {
public:
    std::function<void(std::optional<double>)> onRoll;
    /// Reports the reading it has (none here).
    void start() {
        if (onRoll) onRoll(std::nullopt);
    }
};

/// The camera role as a whole: ties the capture pipeline to the peer link and the wired link, answers the
/// remote's commands, keeps the camera's status, readings, gallery, captures waiting to be sent, take log, clock
/// estimate and program cuts. Lives on the main queue: its state is touched only there.
/// The nominal rate and NTSC flag of a real rate (29.97 is 30 NTSC, 25 is 25).
std::pair<std::int64_t, bool> nominalRate(double fps);
/// The source mode for a size and recording rate.
SourceMode sourceModeFor(const Resolution& resolution, std::int64_t frameRate, bool ntsc);
/// The status's formats of a source's modes: one per size, its nominal rates ascending.
std::vector<FormatOption> formatOptions(const std::vector<SourceMode>& modes);
/// The picture settings the status asks for, and the status showing what the source applied.
PictureSettings pictureSettingsOf(const CameraStatus& status);
void showPicture(CameraStatus& status, const PictureSettings& applied, const SourceCapabilities& caps);

class CameraController : public std::enable_shared_from_this<CameraController> {
public:
    /// A name a remote sends (the camera on air, a custom LUT) is cut to this many bytes where it arrives: it goes
    /// into every status, which must stay far below the link's packet limit.
    static constexpr std::size_t maxReceivedNameBytes = 256;
    /// The deck edits kept: the newest, at most this many and this many bytes in all; the oldest go first.
    static constexpr std::size_t maxDeckEdits = 100;
    static constexpr std::size_t maxDeckEditBytes = 4u << 20;

    struct Options {
        std::filesystem::path folder;  ///< the camera's own storage: stores, outboxes, vault
        std::shared_ptr<Executor> main;
        std::shared_ptr<Keychain> keychain;     ///< identity, name and trusted remotes
        PeerSession::Options session;           ///< its keychain and executor are filled in
        std::optional<USBServer::Options> usb;  ///< none: no wired link
        std::shared_ptr<Defaults> defaults;
        std::shared_ptr<PhotoLibrary> photoLibrary;
        std::filesystem::path driveRoot = "/";
        H264Encoder::Options encoder;
        /// Status sent to every remote at least this often (seconds).
        double statusInterval = 1.0;
        /// Clock pings to the master this often (seconds).
        double clockInterval = 2.0;
        /// Answers a pairing request at once (true or false), or leaves it open for `answerPairing` (none). Not
        /// set: every request is refused.
        std::function<std::optional<bool>(const PeerSession::PairingRequest&)> acceptPairing;
    };

    static std::shared_ptr<CameraController> make(Options options);
    ~CameraController();

    /// Starts the link, the wired link and the capture from `source`. Main queue. False, with the reason in
    /// `failure` when given, when the capture could not start, or when this device's identity key can be neither
    /// read nor stored (then nothing starts).
    bool start(std::unique_ptr<CaptureSource> source, std::string* failure = nullptr);
    /// Stops everything; a take being recorded is finished and stored first. Main queue.
    void stop();

    // Published state (main queue).
    const CameraStatus& status() const { return status_; }
    std::vector<std::string> monitorNames() const;
    std::optional<Date> recordingStart() const { return recordingStart_; }
    int shutterCount() const { return shutterCount_; }
    std::optional<std::string> message() const { return message_; }
    std::optional<PeerSession::PairingRequest> pairingRequest() const { return pairingRequest_; }
    std::vector<GalleryItem> gallery() const { return store_->items(); }

    CameraStreamer& streamer() { return *streamer_; }
    PeerSession& peers() { return *peers_; }
    USBServer* usb() { return usb_.get(); }
    TakeLog& takeLog() { return *takeLog_; }
    Outbox& outbox() { return *outbox_; }
    Outbox& deckOutbox() { return *deckOutbox_; }
    CaptureStore& store() { return *store_; }
    CutLog& cutLog() { return *cutLog_; }
    ClockSync& clockSync() { return clockSync_; }
    const std::vector<DeckEdit>& deckEdits() const { return deckEdits_; }
    std::filesystem::path vaultFolder() const { return options_.folder / "Vault"; }

    /// Answers the open pairing request.
    void answerPairing(bool accept);
    /// Answers the open pairing requests with the code the user typed: the code of any of them accepts that one,
    /// none refuses the one shown, and any other is reported on both sides while the requests stay open. False for a
    /// code that did not match.
    bool answerPairingCode(const std::string& typedCode);

    /// Applies a command as if the remote `from` had sent it (main queue).
    void handleCommand(const CameraCommand& command, const std::optional<PeerId>& from);
    /// Called for every take stored; main queue.
    std::function<void(const CameraStreamer::Take&)> onTakeFinished;

    /// The status packet as it goes out now.
    Bytes statusPacket() const;

private:
    explicit CameraController(Options options);

    void installLinkCallbacks();
    void handleData(const Bytes& data, const PeerId& peer);  // link thread
    void peerConnected(const PeerId& peer);
    void peerDisconnected(const PeerId& peer);
    void sendToMonitors(const Bytes& packet);
    /// Sends `event` to every remote, keeping what a remote that connects later must hear (main queue).
    void tellMonitors(const CameraEvent& event);
    void sendTo(const Bytes& packet, const PeerId& peer);
    void publishStatus();
    void tick();
    void pingClock();
    void handlePong(const Bytes& data, const PeerId& peer);
    void sendGallery(const std::optional<PeerId>& to);
    void sendPreview(const Uuid& id, const PeerId& to);
    void sendNextFile();
    void queueWiredFiles();
    std::optional<std::filesystem::path> fileOf(const Outbox::Item& item) const;
    void delivered(const Uuid& id, Outbox& from);
    void showMessage(const std::string& text);
    void takePhoto();
    void startRecording();
    void stopRecording();
    void applyToStreamer(std::function<void(CameraStreamer&)> change);
    void sendDeckCopies(const std::vector<TakeLog::Entry>& entries);
    void sendNextDeckCopy();
    // The capture source (camera_controller_source.cpp).
    void describeSource();
    /// Switches the source to the status's format; should it refuse, the status and the recording rate go back to
    /// `before` and the remote is told.
    void applyMode(const Resolution& before, std::int64_t rateBefore, bool ntscBefore);
    /// Applies the status's picture settings, or `wanted`; the status then shows what the source holds.
    void applyPicture();
    void applyPicture(const PictureSettings& wanted);
    /// The format the crew chose: size, rate and its 1000/1001 variant, tried on the device as `applyMode` does.
    void chooseFormat(const Resolution& resolution, std::int64_t frameRate, bool ntsc);
    // What the crew set, kept across restarts (camera_controller_settings.cpp).
    /// Sets the camera as its settings file says, through the commands that set it, so that what the device cannot
    /// do now falls back as a new setting would.
    void restoreSettings();
    /// The kept settings again and the kept format, once the device has told what it can do.
    void restoreForDevice();
    /// Writes the settings when they changed, off the main queue; true when they had.
    bool keepSettings();
    void keepLUT(const CameraCommand::LoadCustomLUT& lut);
    Json settingsNow() const;

    Options options_;
    std::shared_ptr<PeerSession> peers_;
    std::unique_ptr<USBServer> usb_;
    std::shared_ptr<H264Encoder> encoder_;
    std::shared_ptr<CaptureStore> store_;
    std::shared_ptr<Outbox> outbox_;
    std::shared_ptr<Outbox> deckOutbox_;
    std::shared_ptr<TakeLog> takeLog_;
    std::shared_ptr<CutLog> cutLog_;
    std::shared_ptr<ExternalDrive> drive_;
    std::shared_ptr<CameraStreamer> streamer_;
    ClockSync clockSync_;
    LevelSensor levelSensor_;
    std::shared_ptr<std::shared_ptr<CameraController>> tickerOwner_;

    // Main queue.
    CameraStatus status_;
    std::optional<Date> recordingStart_;
    int shutterCount_ = 0;
    std::optional<std::string> message_;
    int messageGeneration_ = 0;
    std::optional<PeerSession::PairingRequest> pairingRequest_;
    std::vector<PeerId> connectedMonitors_;
    StandingNotices standing_;
    std::map<PeerId, std::string> monitorNamesByID_;
    std::set<PeerId> fileReceivers_;
    std::set<PeerId> masterIDs_;
    std::set<PeerId> deckReceivers_;
    std::set<PeerId> autoDecks_;
    std::vector<DeckEdit> deckEdits_;
    std::shared_ptr<StreamLUT> customLUT_;
    std::optional<std::optional<double>> sentRoll_;
    std::shared_ptr<TransferProgress> activeTransfer_;
    std::shared_ptr<TransferProgress> activeDeckTransfer_;
    std::set<Uuid> copiesInWork_;
    std::optional<Uuid> transferID_;
    TransferHolds heldBack_;  // captures whose transfer failed, until they may be sent again
    bool running_ = false;
    bool countdownRunning_ = false;
    bool rateChosen_ = false;  ///< the remote chose the recording rate: the source's own no longer sets it
    int pictureGeneration_ = 0;
    int modeGeneration_ = 0;
    PictureSettings wantedPicture_;  ///< what the remote asked for last, applied again after a restart
    PictureSettings heldPicture_;    ///< what the device said it holds, last time it answered
    SourceCapabilities capabilities_;

    std::optional<CameraStatus> kept_;                     ///< read from the settings file, until the start applies it
    std::optional<CameraStatus> keptFormat_;               ///< the kept format, until the device has told its modes
    std::optional<CameraCommand::LoadCustomLUT> keptLUT_;  ///< the kept custom LUT, until then too
    bool restoring_ = false;                               ///< the kept settings are being applied: nothing is written
    bool crewSetSinceStart_ = false;                       ///< a remote changed a setting since the start
    Json keptSettings_;                                    ///< what the settings file holds (or is being written with)
    struct SettingsWrite {
        std::mutex lock;
        std::optional<std::string> next;  // what the next write writes; none when no write waits
    };
    std::shared_ptr<SettingsWrite> settingsWrite_ = std::make_shared<SettingsWrite>();

    DispatchQueue copyQueue_{"morvane.deck-copy"};
    DispatchQueue settingsQueue_{"morvane.camera-settings"};

    // Link threads.
    mutable std::mutex videoOffLock_;
    std::set<PeerId> videoOff_;
    mutable std::mutex monitorsLock_;
    std::vector<PeerId> monitorsForData_;  // a copy of `connectedMonitors_` for the data queue's sends
};

}  // namespace morvane
