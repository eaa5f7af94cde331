// Packets from the cameras: the delivery-thread part (video, clock answers,
// transfer descriptions) and the main-thread part (status, events, gallery,
// previews, readings, deck edits), and the greeting of the cameras.

#include <cmath>

#include "deck/retouch_library.h"
#include "monitor_controller_tables.h"
#include "protocol/live_packets.h"
#include "protocol/message_codec.h"
#include "remote/camera_image.h"
#include "remote/monitor_controller.h"
#include "remote/scope_image.h"
#include "remote/video_receiver.h"
#include "shoot_library/shoot_library.h"

namespace morvane {

namespace {

// The longest recording whose elapsed time the remote believes: a little over
// 100 days.
constexpr double maxRecordingElapsed = 1e7;
// Deck copies a camera may report as on their way; anything beyond is not a
// count.
constexpr std::int64_t maxDeckCopies = 1'000'000;

bool isUnitFraction(double value) {
    return std::isfinite(value) && value >= 0.0 && value <= 1.0;
}

// Numbers from a camera that the views turn into text or arithmetic: what is
// not usable is hidden (none), counts are kept to what a camera can mean.
CameraStatus sanitized(CameraStatus status) {
    if (status.battery && !isUnitFraction(*status.battery)) status.battery.reset();
    if (status.transferProgress && !isUnitFraction(*status.transferProgress)) status.transferProgress.reset();
    if (status.deckCopyProgress && !isUnitFraction(*status.deckCopyProgress)) status.deckCopyProgress.reset();
    if (status.recordingElapsed && !(std::isfinite(*status.recordingElapsed) && *status.recordingElapsed >= 0 &&
                                     *status.recordingElapsed <= maxRecordingElapsed))
        status.recordingElapsed.reset();
    if (status.linkDelayMs && (*status.linkDelayMs < 0 || *status.linkDelayMs > 3'600'000)) status.linkDelayMs.reset();
    if (status.freeBytes < 0) status.freeBytes = 0;
    status.pendingTransfers = std::clamp<std::int64_t>(status.pendingTransfers, 0, maxDeckCopies);
    status.deckCopiesPreparing = std::clamp<std::int64_t>(status.deckCopiesPreparing, 0, maxDeckCopies);
    status.deckCopiesWaiting = std::clamp<std::int64_t>(status.deckCopiesWaiting, 0, maxDeckCopies);
    return status;
}

std::string eventText(const CameraEvent& event) {
    switch (event.kind) {
        case CameraEvent::Kind::photoSaved:
            return "Photo saved on camera";
        case CameraEvent::Kind::videoSaved:
            return "Video saved on camera";
        case CameraEvent::Kind::failed:
            return event.message.value_or("Capture failed");
        case CameraEvent::Kind::info:
            return event.message.value_or("");
    }
    return {};
}

// What the band says of a camera's event, naming the camera among several. A failure, a take that lost its sound,
// settings the camera does not take and what the camera says of a subject stay until read, or until the camera says
// their cause has passed: they hold for every take after them. Said by several cameras, or again by one (a camera
// that connects again tells what still holds), such a notice is one naming each camera once; one camera's takes
// without sound are one counting them. Cameras that sent the sound and settings notices as passing ones are known by
// their words.
NoticeBoard::Notice eventNotice(const CameraEvent& event, const PeerId& peer, const std::string& name, bool named) {
    const bool failed = event.kind == CameraEvent::Kind::failed;
    const bool noSound = says(event, takeWithoutSoundMessage);
    if (!failed && !noSound && !says(event, settingsNotTakenMessage) && !(event.subject && event.message))
        return {.text = (named ? name + ": " : "") + eventText(event)};
    NoticeBoard::Notice notice{.text = event.message.value_or(eventText(event)),
                               .matters = true,
                               .stays = true,
                               .camera = peer.text(),
                               .cameraName = name,
                               .occurrence = event.occurrence.value_or("")};
    if (event.subject && event.soundMissing.value_or(false)) {
        notice.key = "takes without sound " + name;
        notice.subject = *event.subject;
        notice.several = "%n takes have no sound, or not all of it. Their pictures are kept";
        notice.bySubject = true;
    } else if (event.subject) {
        notice.key = "about " + *event.subject;
        notice.subject = *event.subject;
    } else if (noSound) {
        notice.key = "no sound " + name;
        notice.several = "%n takes have no sound: their sound couldn't be converted. Their pictures are kept";
    } else {
        notice.key = "said " + notice.text;
    }
    return notice;
}

}  // namespace

void MonitorController::handlePeerData(const Bytes& data, const PeerId& peer) {
    const auto kind = packetKind(data);
    if (kind == PacketType::parameterSets || kind == PacketType::frame) {
        std::shared_ptr<VideoReceiver> receiver;
        {
            std::lock_guard lock(receiversLock_);
            if (auto found = receivers_.find(peer); found != receivers_.end()) receiver = found->second;
        }
        if (receiver) receiver->receive(data);
        return;
    }
    if (kind == PacketType::clockPing) {
        answerClockPing(data, peer);
        return;
    }
    if (kind == PacketType::transferInfo) {
        rememberTransfer(data, peer);
        return;
    }
    env_.mainExecutor->async(
        [self = shared_from_this(), data, kind, peer] { self->routeCameraMessage(data, kind, peer); });
}

void MonitorController::answerClockPing(const Bytes& data, const PeerId& peer) {
    auto ping = ClockPing::decode(data);
    if (!ping) return;
    double offset = clockOffset();
    if (!std::isfinite(offset)) offset = 0;
    auto pong = ClockPong::answering(*ping, env_.now().unixSeconds(), offset);
    std::shared_ptr<CameraLink> link;
    {
        // The main thread may take up another link while this thread answers.
        std::lock_guard lock(receiversLock_);
        link = peers_;
    }
    link->sendTo(pong.encode(), peer);
}

void MonitorController::rememberTransfer(const Bytes& data, const PeerId& peer) {
    auto info = decodeMessage<TransferInfo>(data);
    if (!info) return;
    auto key = info->id.uuidString();
    std::lock_guard lock(receiversLock_);
    auto name = cameraNames_.find(peer);
    incoming_->store(key, IncomingFile{std::move(*info), name != cameraNames_.end() ? name->second : "Camera"},
                     incomingLimit);
}

void MonitorController::routeCameraMessage(const Bytes& data, std::optional<PacketType> kind, const PeerId& peer) {
    if (auto found = feed(peer)) handleCameraMessage(data, kind, *found);
}

void MonitorController::handleCameraMessage(const Bytes& data, std::optional<PacketType> kind, CameraFeed& feed) {
    if (!kind) return;
    switch (*kind) {
        case PacketType::status:
            applyStatus(data, feed);
            break;
        case PacketType::event:
            applyEvent(data, feed);
            break;
        case PacketType::gallery:
            if (auto items = decodeListMessage<GalleryItem>(data)) feed.setGallery(std::move(*items));
            break;
        case PacketType::preview:
            if (auto preview = decodeMessage<GalleryPreview>(data))
                deliverPreview(preview->id, decodeCameraImage(preview->jpeg), feed);
            break;
        case PacketType::histogram:
            if (auto histogram = HistogramPacket::decode(data))
                feed.live().setHistogram(std::vector<std::uint8_t>(histogram->bins.begin(), histogram->bins.end()));
            break;
        case PacketType::audioLevel:
            if (auto level = AudioLevelPacket::decode(data)) feed.live().setAudioLevel(level->level);
            break;
        case PacketType::loupe:
            if (feed.status() && feed.status()->loupe) {
                const ByteView bytes(data);
                feed.live().setLoupe(decodeCameraImage(bytes.subspan(1)));
            }
            break;
        case PacketType::level:
            if (auto level = LevelPacket::decode(data)) feed.live().setRoll(level->roll());
            break;
        case PacketType::scope:
            feed.live().setScope(ScopeImage::decode(data));
            break;
        case PacketType::deckEdit:
            if (!importsFiles()) break;
            if (auto edit = decodeMessage<DeckEdit>(data)) shootLibrary().addDeckEdit(*edit);
            break;
        default:
            break;
    }
}

void MonitorController::applyStatus(const Bytes& data, CameraFeed& feed) {
    auto decoded = decodeMessage<CameraStatus>(data);
    if (!decoded) return;
    const bool elapsedUsable =
        !decoded->recordingElapsed || (std::isfinite(*decoded->recordingElapsed) && *decoded->recordingElapsed >= 0 &&
                                       *decoded->recordingElapsed <= maxRecordingElapsed);
    CameraStatus status = sanitized(std::move(*decoded));
    const bool first = !feed.status();
    const bool accepts = takesCaptures();
    const PeerId peer = feed.id();

    if (first) {
        sendCommand(CameraCommand::MonitorHello{accepts}, peer);
        if (isMasterCamera_) sendCommand(CameraCommand::MasterHello{}, peer);
        if (collectsDeckCopies_ && collectsTakesAutomatically_) sendCommand(CameraCommand::DeckHello{}, peer);
        if (collectsDeckCopies_)
            for (const auto& edit : retouchLibrary().recentDeckEdits())
                sendCommand(CameraCommand::DeckEdit{edit}, peer);
        feed.setLastHello(env_.now());
        if (!videoWanted_ || (deckMode_ && !livePictures_)) sendCommand(CameraCommand::SetVideo{false}, peer);
        sendCommand(CameraCommand::RequestGallery{}, peer);
        sentBitRates_.erase(peer);
        sentSizes_.erase(peer);
        updateStreamQuality(&peer);
        // A camera that joins, or joins again, starts with what it remembers of the program.
        programReports_.erase(peer);
        std::erase_if(programReports_, [this](const auto& report) { return !this->feed(report.first); });
    } else if (accepts && status.pendingTransfers > 0 && !status.transferProgress &&
               env_.now().timeIntervalSince(feed.lastHello()) > transferHelloSpacing) {
        sendCommand(CameraCommand::MonitorHello{true}, peer);
        feed.setLastHello(env_.now());
    }

    if (status.isRecording) {
        // An elapsed time that makes no sense leaves the start unknown (hidden)
        // rather than wrong.
        if (!feed.recordingStart() && elapsedUsable)
            feed.setRecordingStart(env_.now().addingTimeInterval(-status.recordingElapsed.value_or(0)));
    } else {
        feed.setRecordingStart(std::nullopt);
    }

    const bool loupeOff = !status.loupe;
    const auto program = status.program;
    const bool recordingChanged = status.isRecording != (feed.status() && feed.status()->isRecording);
    feed.setStatus(std::move(status));
    if (loupeOff && !feed.live().loupe().isNull()) feed.live().setLoupe(QImage());

    std::int64_t arriving = 0;
    for (const auto& other : feeds_)
        if (other->status()) arriving += other->status()->deckCopiesPreparing + other->status()->deckCopiesWaiting;
    setDeckCopiesArriving(static_cast<int>(std::min<std::int64_t>(arriving, 1'000'000'000)));

    noteProgramCut(program, peer);
    if (recordingChanged && !anyCameraRecording()) setLiveCutOffered(false);
    if (recordingChanged) emit this->recordingChanged();
}

void MonitorController::applyEvent(const Bytes& data, CameraFeed& feed) {
    auto event = decodeMessage<CameraEvent>(data);
    if (!event) return;
    if (event->kind == CameraEvent::Kind::photoSaved) feed.setShutterCount(feed.shutterCount() + 1);
    if (event->item) {
        const auto& gallery = feed.gallery();
        const bool known = std::any_of(gallery.begin(), gallery.end(),
                                       [&](const GalleryItem& item) { return item.id == event->item->id; });
        if (!known) {
            auto updated = gallery;
            updated.insert(updated.begin(), *event->item);
            feed.setGallery(std::move(updated));
        }
    }
    feed.noteTakeEvent(*event);
    if (event->over.value_or(false)) {
        // A take is one file whichever camera sees it gone (a drive shared by several): its notices go for all.
        const bool take = event->subject && event->subject->starts_with("take:");
        if (event->subject && notices_.withdraw(*event->subject, take ? std::string() : feed.name()))
            setMessage(notices_.text());
        return;
    }
    postNotice(eventNotice(*event, feed.id(), feed.name(), feeds_.size() >= 2));
}

void MonitorController::greetCameras() {
    auto ready = peers_->readyPeers();
    for (const auto& peer : ready) registerReceiver(peer);
    peers_->publishPeers();
    const bool accepts = takesCaptures();
    const bool video = deckMode_ ? (videoWanted_ && livePictures_) : videoWanted_;
    for (const auto& peer : ready) {
        sendCommand(CameraCommand::MonitorHello{accepts}, peer);
        if (!(collectsDeckCopies_ && collectsTakesAutomatically_))
            sendCommand(CameraCommand::DeckStopAutoCopies{}, peer);
        sendCommand(CameraCommand::SetVideo{video}, peer);
    }
}

ShootLibrary& MonitorController::shootLibrary() const {
    return env_.shootLibrary ? *env_.shootLibrary : ShootLibrary::shared();
}

RetouchLibrary& MonitorController::retouchLibrary() const {
    return env_.retouchLibrary ? *env_.retouchLibrary : RetouchLibrary::shared();
}

}  // namespace morvane
