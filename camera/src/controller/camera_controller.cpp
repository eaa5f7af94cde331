#include "camera/camera_controller.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include <sys/statvfs.h>

#include "camera/capture_receiver.h"
#include "camera/deck_copy.h"
#include "link/device_identity.h"
#include "platform/atomic_file.h"
#include "platform/log.h"
#include "protocol/live_packets.h"
#include "protocol/message_codec.h"

namespace morvane {

namespace fs = std::filesystem;

namespace {
constexpr double kMessageSeconds = 2.5;

// What the camera shows when the link refuses a packet over its limit.
std::string refusedText(const Bytes& packet) {
    switch (packetKind(packet).value_or(PacketType::status)) {
        case PacketType::preview:
            return "Couldn't send a preview to the remote: it is too large";
        case PacketType::gallery:
            return "Couldn't send the gallery to the remote: it is too large";
        default:
            return "Couldn't send to the remote: too large";
    }
}

}  // namespace

std::shared_ptr<CameraController> CameraController::make(Options options) {
    return std::shared_ptr<CameraController>(new CameraController(std::move(options)));
}

CameraController::CameraController(Options options) : options_(std::move(options)) {
    std::error_code ec;
    fs::create_directories(options_.folder, ec);
    if (!options_.defaults) options_.defaults = std::make_shared<Defaults>(options_.folder / "defaults.json");
    if (!options_.photoLibrary) options_.photoLibrary = std::make_shared<PhotoLibrary>(options_.folder / "Pictures");
    store_ = std::make_shared<CaptureStore>(options_.folder / "Gallery");
    outbox_ = std::make_shared<Outbox>(options_.folder / "Outbox", options_.main);
    deckOutbox_ = std::make_shared<Outbox>(options_.folder / "Deck copies", options_.main);
    takeLog_ = std::make_shared<TakeLog>(options_.folder / "takes.json");
    cutLog_ = std::make_shared<CutLog>();
    drive_ = std::make_shared<ExternalDrive>(options_.driveRoot);
    encoder_ = std::make_shared<H264Encoder>(options_.encoder);

    auto sessionOptions = options_.session;
    sessionOptions.keychain = options_.keychain;
    sessionOptions.mainExecutor = options_.main;
    peers_ = PeerSession::create(PeerSession::Role::camera, true, 7, "morvane", sessionOptions);
    if (options_.usb) {
        auto usbOptions = *options_.usb;
        usbOptions.keychain = options_.keychain;
        usb_ = std::make_unique<USBServer>(usbOptions);
    }

    CameraStreamer::Collaborators c;
    c.encoder = encoder_;
    c.store = store_;
    c.outbox = outbox_;
    c.cutLog = cutLog_;
    c.deckOutbox = deckOutbox_;
    c.takeLog = takeLog_;
    c.main = options_.main;
    c.defaults = options_.defaults;
    c.vaultFolder = vaultFolder();
    c.recordingFolder = options_.folder / "Recording";
    c.photoLibrary = options_.photoLibrary;
    c.drive = drive_;
    auto keychain = options_.keychain;
    c.deviceName = [keychain] { return DeviceIdentity(keychain).deviceName(); };
    c.cameraIdentity = [keychain]() -> std::string {
        try {
            return base64Encode(DeviceIdentity(keychain).publicKey());
        } catch (const std::exception&) {
            return {};  // a camera without a key records nothing (`start`)
        }
    };
    streamer_ = CameraStreamer::make(std::move(c));

    status_.mode = CaptureMode::video;
    status_.audioInputs = {AudioInputOption{"auto", "Automatic"}};
    // The flavours this machine's encoder writes, learned once per run: the remote offers these.
    status_.proResCodecs = CameraStreamer::Collaborators::proResDefault();

    // What the crew set before this start; applied when the camera starts. A file that cannot be used is left as it
    // is until the next setting replaces it, and the camera starts as a new one.
    const fs::path settingsFile = options_.folder / CrewSettings::fileName;
    removeInterruptedWrites(settingsFile);
    removeInterruptedWrites(options_.folder / CrewSettings::lutFileName);
    auto read = CrewSettings::read(settingsFile);
    if (!read.problem.empty())
        log::error("CameraController",
                   read.problem + " (" + settingsFile.string() + "): the camera starts as set up new");
    if (read.kept) keptSettings_ = CrewSettings::encode(*read.kept);
    kept_ = std::move(read.kept);
    if (kept_) keptLUT_ = CrewSettings::readLUT(options_.folder / CrewSettings::lutFileName);
}

CameraController::~CameraController() {
    stop();
}

bool CameraController::start(std::unique_ptr<CaptureSource> source, std::string* failure) {
    if (running_) return true;
    // A key that cannot be kept would make the camera a new device at every start, paired with nobody; its link
    // would not even announce it. Nothing starts then.
    try {
        (void)DeviceIdentity(options_.keychain).identityKey();
    } catch (const std::exception& e) {
        log::error("CameraController", e.what());
        if (failure) *failure = std::string("Couldn't store this device's identity key: ") + e.what();
        return false;
    }
    running_ = true;
    installLinkCallbacks();
    std::weak_ptr<CameraController> weak = weak_from_this();

    // Readings and the live stream leave from the data queue and the encoder's queue.
    auto sendAll = [weak](const Bytes& packet) {
        if (auto self = weak.lock()) self->sendToMonitors(packet);
    };
    streamer_->onHistogram = [sendAll](const std::array<std::uint8_t, 64>& bins) {
        sendAll(HistogramPacket{bins}.encode());
    };
    streamer_->onScope = [sendAll](const Bytes& payload) {
        Bytes packet{packetTypeByte(PacketType::scope)};
        packet.insert(packet.end(), payload.begin(), payload.end());
        sendAll(packet);
    };
    streamer_->onLoupe = [sendAll](const Bytes& jpeg) { sendAll(LoupePacket{jpeg}.encode()); };
    streamer_->onAudioLevel = [sendAll](std::uint8_t level) { sendAll(AudioLevelPacket{level}.encode()); };
    encoder_->onPacket = [weak](const Bytes& packet, const std::set<PeerId>& excluded) {
        auto self = weak.lock();
        if (!self) return;
        std::vector<PeerId> targets;
        {
            std::lock_guard lock(self->monitorsLock_);
            targets = self->monitorsForData_;
        }
        std::lock_guard lock(self->videoOffLock_);
        for (const auto& peer : targets) {
            if (!excluded.count(peer) && !self->videoOff_.count(peer)) self->sendTo(packet, peer);
        }
    };
    streamer_->onEvent = [weak](const CameraEvent& event) {
        auto self = weak.lock();
        if (!self) return;
        if (event.kind == CameraEvent::Kind::photoSaved) ++self->shutterCount_;
        self->tellMonitors(event);
        if (event.message) self->showMessage(*event.message);
        if (event.item) self->sendGallery(std::nullopt);
    };
    streamer_->onSourceRestarted = [weak] {
        auto self = weak.lock();
        if (!self) return;
        // A device that was stuck or unplugged holds its own settings again: what the remote asked for is applied
        // anew, and the status shows what the device then holds.
        self->describeSource();
        self->applyPicture(self->wantedPicture_);
    };
    streamer_->onRecordingFailed = [weak] {
        if (auto self = weak.lock()) {
            self->recordingStart_.reset();
            self->status_.isRecording = false;
            self->publishStatus();
        }
    };
    streamer_->onTakeFinished = [weak](const CameraStreamer::Take& take) {
        auto self = weak.lock();
        if (!self) return;
        if (!self->autoDecks_.empty()) self->sendDeckCopies({take.entry});
        self->sendNextFile();
        self->queueWiredFiles();
        if (self->onTakeFinished) self->onTakeFinished(take);
    };
    outbox_->setOnCountChanged([weak](int count) {
        auto self = weak.lock();
        if (!self) return;
        self->status_.pendingTransfers = count;
        self->sendNextFile();
        self->publishStatus();
    });
    status_.pendingTransfers = static_cast<std::int64_t>(outbox_->items().size());

    if (usb_) {
        usb_->onAcknowledged = [weak](const TransferInfo& info, bool received) {
            auto self = weak.lock();
            if (!self || !received) return;
            self->options_.main->async([weak, id = info.id] {
                if (auto self = weak.lock()) self->delivered(id, *self->outbox_);
            });
        };
        usb_->onConnectionChanged = [weak](bool connected) {
            auto self = weak.lock();
            if (!self) return;
            self->options_.main->async([weak, connected] {
                auto self = weak.lock();
                if (!self) return;
                self->status_.usbConnected = connected;
                if (connected) self->queueWiredFiles();
                self->publishStatus();
            });
        };
        usb_->start();
    }
    levelSensor_.onRoll = [weak](std::optional<double> roll) {
        auto self = weak.lock();
        if (!self || (self->sentRoll_ && *self->sentRoll_ == roll)) return;
        self->sentRoll_ = roll;
        self->sendToMonitors(LevelPacket::fromRoll(roll).encode());
    };

    streamer_->onDeckCopiesCut = [weak](const std::vector<TakeLog::Entry>& entries) {
        if (auto self = weak.lock()) self->sendDeckCopies(entries);
    };
    // What an earlier run left on the way of its captures goes out as any capture, now that the events it tells have
    // a hook (kept until a remote hears them), and the deck copies it was making are made again.
    streamer_->recoverTakes();
    // Set as the crew left it before any remote sees it.
    restoreSettings();
    peers_->start();
    const bool capturing = streamer_->start(std::move(source));
    if (capturing) {
        describeSource();
        applyPicture();  // a device keeps what an earlier program set: it starts from what the status says
    }
    drive_->onChange = [weak](const std::optional<DriveStatus>& drive) {
        auto self = weak.lock();
        if (!self) return;
        self->status_.externalDrive = drive;
        // A drive that comes back may hold a take that a crash or a power cut cut short.
        if (drive) self->streamer_->recoverDriveTakes();
    };
    drive_->refresh();
    tick();
    if (!capturing && failure) *failure = "The capture source could not start";
    return capturing;
}

void CameraController::stop() {
    settingsQueue_.sync([] {});  // the last setting is on the disk
    if (!running_) return;
    running_ = false;
    streamer_->dataQueue().sync([s = streamer_] { s->stopRecording(); });
    streamer_->stop();
    streamer_->waitForTakes();
    if (usb_) usb_->stop();
    peers_->onData = nullptr;
    peers_->onPeerConnected = nullptr;
    peers_->onPeerDisconnected = nullptr;
    peers_->onPeersChanged = nullptr;
    peers_->onPairingRequest = nullptr;
    peers_->stop();
    encoder_->onPacket = nullptr;
}

std::vector<std::string> CameraController::monitorNames() const {
    std::vector<std::string> names;
    for (const auto& peer : connectedMonitors_) {
        auto found = monitorNamesByID_.find(peer);
        names.push_back(found != monitorNamesByID_.end() ? found->second : "Remote");
    }
    return names;
}

// MARK: - Link

void CameraController::installLinkCallbacks() {
    std::weak_ptr<CameraController> weak = weak_from_this();
    peers_->onData = [weak](const Bytes& data, const PeerId& peer) {
        if (auto self = weak.lock()) self->handleData(data, peer);
    };
    peers_->onPeerConnected = [weak](const PeerId& peer) {
        if (auto self = weak.lock()) self->peerConnected(peer);
    };
    peers_->onPeerDisconnected = [weak](const PeerId& peer) {
        if (auto self = weak.lock()) self->peerDisconnected(peer);
    };
    peers_->onPeersChanged = [weak](const std::vector<PeerSession::Peer>& peers) {
        auto self = weak.lock();
        if (!self) return;
        for (const auto& p : peers) self->monitorNamesByID_[p.id] = p.name;
    };
    peers_->onPairingRequest = [weak](const std::optional<PeerSession::PairingRequest>& request) {
        auto self = weak.lock();
        if (!self) return;
        self->pairingRequest_ = request;
        if (!request) return;
        const std::optional<bool> answer =
            self->options_.acceptPairing ? self->options_.acceptPairing(*request) : std::optional<bool>(false);
        if (answer) self->answerPairing(*answer);
    };
    peers_->onIssue = [weak](const std::string& issue) {
        if (auto self = weak.lock()) self->showMessage(issue);
    };
}

void CameraController::answerPairing(bool accept) {
    if (!pairingRequest_) return;
    if (accept) {
        peers_->acceptPairing(pairingRequest_->id);
    } else {
        peers_->cancelPairing(pairingRequest_->id);
    }
}

bool CameraController::answerPairingCode(const std::string& typedCode) {
    if (!pairingRequest_) return true;
    if (typedCode.empty()) {
        answerPairing(false);
        return true;
    }
    // The remote the user pairs may not be the request shown: strangers can request too, before or after it.
    if (peers_->acceptPairingCode(typedCode)) return true;
    peers_->codeDidNotMatch(pairingRequest_->id);
    return false;
}

void CameraController::handleData(const Bytes& data, const PeerId& peer) {
    const auto kind = packetKind(data);
    if (!kind) return;
    switch (*kind) {
        case PacketType::ack:
            if (auto ack = AckPacket::decode(data)) encoder_->acknowledge(peer, ack->frameNumber);
            return;
        case PacketType::keyframeRequest:
            encoder_->requestKeyframe();
            return;
        case PacketType::clockPong:
            handlePong(data, peer);
            return;
        case PacketType::command:
            if (auto command = decodeMessage<CameraCommand>(data)) {
                std::weak_ptr<CameraController> weak = weak_from_this();
                options_.main->async([weak, command = *command, peer] {
                    if (auto self = weak.lock()) self->handleCommand(command, peer);
                });
            }
            return;
        default:
            return;  // nothing else is for a camera
    }
}

void CameraController::peerConnected(const PeerId& peer) {
    if (std::find(connectedMonitors_.begin(), connectedMonitors_.end(), peer) == connectedMonitors_.end()) {
        connectedMonitors_.push_back(peer);
    }
    {
        std::lock_guard lock(monitorsLock_);
        monitorsForData_ = connectedMonitors_;
    }
    encoder_->addPeer(peer);
    sentRoll_.reset();
    levelSensor_.start();
    sendTo(statusPacket(), peer);
    // After the status, which makes this camera known there: what still holds, and what nobody has heard yet.
    for (const auto& event : standing_.greet())
        if (auto packet = encodeMessage(PacketType::event, event)) sendTo(*packet, peer);
}

void CameraController::peerDisconnected(const PeerId& peer) {
    std::erase(connectedMonitors_, peer);
    {
        std::lock_guard lock(monitorsLock_);
        monitorsForData_ = connectedMonitors_;
    }
    {
        std::lock_guard lock(videoOffLock_);
        videoOff_.erase(peer);
    }
    encoder_->removePeer(peer);
    fileReceivers_.erase(peer);
    masterIDs_.erase(peer);
    deckReceivers_.erase(peer);
    autoDecks_.erase(peer);
    if (clockSync_.master() == peer) clockSync_.setMaster(std::nullopt);
}

void CameraController::sendTo(const Bytes& packet, const PeerId& peer) {
    auto session = peers_;
    std::weak_ptr<CameraController> weak = weak_from_this();
    session->queue().async([session, packet, peer, weak, main = options_.main] {
        // A refused packet never reaches the remote: the camera says so instead of dropping it unseen.
        if (session->send(packet, peer)) return;
        main->async([weak, text = refusedText(packet)] {
            if (auto self = weak.lock()) self->showMessage(text);
        });
    });
}

void CameraController::tellMonitors(const CameraEvent& event) {
    // Told before any remote connects (what the start found, say), it waits for the first one.
    const CameraEvent told = standing_.told(event, !connectedMonitors_.empty());
    if (auto packet = encodeMessage(PacketType::event, told)) sendToMonitors(*packet);
}

void CameraController::sendToMonitors(const Bytes& packet) {
    std::vector<PeerId> targets;
    {
        std::lock_guard lock(monitorsLock_);
        targets = monitorsForData_;
    }
    for (const auto& peer : targets) sendTo(packet, peer);
}

// MARK: - Status and upkeep

Bytes CameraController::statusPacket() const {
    CameraStatus status = status_;
    status.isRecording = recordingStart_.has_value();
    if (recordingStart_) status.recordingElapsed = std::max(0.0, Date::now().timeIntervalSince(*recordingStart_));
    struct statvfs info {};
    if (::statvfs(options_.folder.c_str(), &info) == 0) {
        status.freeBytes = static_cast<std::int64_t>(info.f_bavail) * static_cast<std::int64_t>(info.f_frsize);
    }
    auto packet = encodeMessage(PacketType::status, status);
    return packet.value_or(Bytes{});
}

void CameraController::publishStatus() {
    const Bytes packet = statusPacket();
    if (!packet.empty()) sendToMonitors(packet);
}

void CameraController::tick() {
    if (!running_) return;
    drive_->refresh();
    publishStatus();
    pingClock();
    sendNextFile();
    std::weak_ptr<CameraController> weak = weak_from_this();
    options_.main->asyncAfter(options_.statusInterval, [weak] {
        if (auto self = weak.lock()) self->tick();
    });
}

void CameraController::pingClock() {
    // The master's clock when one announced itself, else the first remote's.
    std::optional<PeerId> target = clockSync_.master();
    if (!target && !connectedMonitors_.empty()) target = connectedMonitors_.front();
    if (!target) return;
    if (!clockSync_.master()) clockSync_.setMaster(target);
    ClockPing ping;
    const double now = Date::now().unixSeconds();
    std::uint64_t bits;
    std::memcpy(&bits, &now, sizeof bits);
    for (int i = 0; i < 8; ++i)
        ping.value[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(bits >> (56 - 8 * i));
    sendTo(ping.encode(), *target);
}

void CameraController::handlePong(const Bytes& data, const PeerId& peer) {
    auto pong = ClockPong::decode(data);
    if (!pong || clockSync_.master() != peer) return;
    std::uint64_t bits = 0;
    for (auto byte : pong->ping) bits = (bits << 8) | byte;
    double sentAt;
    std::memcpy(&sentAt, &bits, sizeof sentAt);
    const double masterTime = static_cast<double>(pong->nanoseconds) / 1e9;
    if (clockSync_.addSample(sentAt, Date::now().unixSeconds(), masterTime)) {
        streamer_->setClockOffset(clockSync_.offset());
    }
}

void CameraController::showMessage(const std::string& text) {
    message_ = text;
    const int generation = ++messageGeneration_;
    std::weak_ptr<CameraController> weak = weak_from_this();
    options_.main->asyncAfter(kMessageSeconds, [weak, generation] {
        auto self = weak.lock();
        if (self && self->messageGeneration_ == generation) self->message_.reset();
    });
}

void CameraController::applyToStreamer(std::function<void(CameraStreamer&)> change) {
    std::weak_ptr<CameraStreamer> weak = streamer_;
    streamer_->dataQueue().async([weak, change = std::move(change)] {
        if (auto s = weak.lock()) change(*s);
    });
}

// MARK: - Gallery

void CameraController::sendGallery(const std::optional<PeerId>& to) {
    auto items = store_->items();
    auto packet = encodeMessage(PacketType::gallery, items);
    if (!packet) return;
    if (to) {
        sendTo(*packet, *to);
    } else {
        sendToMonitors(*packet);
    }
}

void CameraController::sendPreview(const Uuid& id, const PeerId& to) {
    auto jpeg = store_->preview(id);
    if (!jpeg) return;
    if (auto packet = encodeMessage(PacketType::preview, GalleryPreview{id, *jpeg})) sendTo(*packet, to);
}

// MARK: - Files

std::optional<fs::path> CameraController::fileOf(const Outbox::Item& item) const {
    const fs::path folder = item.location == Outbox::Item::Location::vault ? vaultFolder() : outbox_->directory();
    fs::path file = folder / item.fileName;
    std::error_code ec;
    if (!fs::is_regular_file(file, ec)) return std::nullopt;
    return file;
}

void CameraController::sendNextFile() {
    if (activeTransfer_ || status_.transfersPaused) return;
    const auto receiver = captureReceiver(fileReceivers_, deckReceivers_);
    if (!receiver) return;
    // The first capture not held back: one the remote could not take (too large for its free space, say) waits
    // while the ones behind it go.
    const auto items = outbox_->items();
    const auto now = TransferHolds::Clock::now();
    const auto next = std::find_if(items.begin(), items.end(),
                                   [&](const Outbox::Item& item) { return heldBack_.mayGo(item.info.id, now); });
    if (next == items.end()) return;
    const auto& item = *next;
    auto file = fileOf(item);
    if (!file) {
        delivered(item.info.id, *outbox_);  // its file is gone: nothing left to send
        return;
    }
    if (auto announce = encodeMessage(PacketType::transferInfo, item.info)) sendTo(*announce, *receiver);
    std::weak_ptr<CameraController> weak = weak_from_this();
    const Uuid id = item.info.id;
    transferID_ = id;
    status_.transferName = item.info.fileName;
    status_.transferProgress = 0;
    activeTransfer_ =
        peers_->sendResource(*file, id.uuidString(), *receiver, [weak, id](const std::optional<std::string>& error) {
            auto self = weak.lock();
            if (!self) return;
            self->activeTransfer_.reset();
            self->transferID_.reset();
            self->status_.transferName.reset();
            self->status_.transferProgress.reset();
            if (!error) {
                self->delivered(id, *self->outbox_);
            } else {
                log::info("CameraController", "a transfer failed: " + *error);
                const bool linkLost = *error == PeerSession::connectionLost || *error == PeerSession::notConnected;
                self->heldBack_.failed(id, linkLost, TransferHolds::Clock::now());
            }
            self->publishStatus();
        });
}

void CameraController::queueWiredFiles() {
    if (!usb_) return;
    for (const auto& item : outbox_->items()) {
        if (auto file = fileOf(item)) usb_->send(*file, item.info);
    }
}

void CameraController::delivered(const Uuid& id, Outbox& from) {
    auto item = from.item(id);
    if (!item) return;
    heldBack_.forget(id);
    // Only the outbox's own copy goes; a vault file stays where the user keeps it.
    const auto removeFile = [&] {
        std::error_code ec;
        if (item->location == Outbox::Item::Location::outbox) fs::remove(from.directory() / item->fileName, ec);
    };
    // A file in an outbox that no entry names must tell whether it went: a deck copy is marked in the take log
    // before its entry goes, any other capture's file goes before its entry.
    if (&from == deckOutbox_.get()) {
        takeLog_->markCopied(id);
        from.remove(id);
        removeFile();
    } else {
        removeFile();
        from.remove(id);
    }
    // A take that could not be finished for want of room may be now.
    if (item->location == Outbox::Item::Location::outbox) streamer_->roomMade();
}

}  // namespace morvane
