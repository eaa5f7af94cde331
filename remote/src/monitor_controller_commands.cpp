// Everything the remote asks of its cameras: the hand-over, the three ways of
// choosing receivers, the program cut, markers, deck-copy requests, focus and
// deletion.

#include <algorithm>
#include <cmath>

#include "protocol/message_codec.h"
#include "remote/monitor_controller.h"
#include "remote/video_receiver.h"
#include "shoot_library/shoot_library.h"

namespace morvane {

bool MonitorController::sendPacket(const Bytes& packet, const PeerId& peer) {
    return peers_->sendTo(packet, peer);
}

void MonitorController::sendCommand(const CameraCommand& command, const PeerId& peer) {
    auto packet = encodeMessage(PacketType::command, command);
    if (!packet || sendPacket(*packet, peer)) return;
    // The link refused it as too large: the user hears so rather than waiting for what never comes.
    const auto found = feed(peer);
    const std::string camera = found ? found->name() : "the camera";
    const auto* edit = command.as<CameraCommand::DeckEdit>();
    showNotice(edit ? "Couldn't send the edit " + edit->edit.name + " to " + camera + ": it is too large"
                    : "Couldn't send to " + camera + ": too large");
}

void MonitorController::send(const CameraCommand& command) {
    const auto feeds = feeds_;
    for (const auto& feed : feeds)
        if (feed->status()) sendCommand(command, feed->id());
}

void MonitorController::sendToCameras(const CameraCommand& command) {
    if (shutterAllCameras_) {
        send(command);
        return;
    }
    if (auto target = selectedFeed()) sendCommand(command, target->id());
}

bool MonitorController::isBroadcastCommand(const CameraCommand& command) {
    using C = CameraCommand;
    return command.is<C::SetMode>() || command.is<C::SetTimer>() || command.is<C::SetFormat>() ||
           command.is<C::SetFrameRate>() || command.is<C::SetColorProfile>() || command.is<C::SetStabilization>() ||
           command.is<C::SetCodec>() || command.is<C::SetPreviewLUT>() || command.is<C::LoadCustomLUT>() ||
           command.is<C::SetWhiteBalance>() || command.is<C::SetPortrait>() || command.is<C::SetExposureMode>() ||
           command.is<C::SetManualAngle>() || command.is<C::SetAperture>() || command.is<C::SetDimmed>() ||
           command.is<C::SetAids>();
}

void MonitorController::sendFromControls(const CameraCommand& command, const CameraFeed& feed) {
    if (shutterAllCameras_ && isBroadcastCommand(command)) {
        send(command);
        return;
    }
    sendCommand(command, feed.id());
}

void MonitorController::sendFromControls(const CameraCommand& command) {
    if (shutterAllCameras_ && isBroadcastCommand(command)) {
        send(command);
        return;
    }
    if (auto target = selectedFeed()) sendCommand(command, target->id());
}

bool MonitorController::anyCameraRecording() const {
    // A camera being reconnected says nothing until it is back.
    return std::any_of(feeds_.begin(), feeds_.end(),
                       [](const FeedPtr& f) { return !f->reconnecting() && f->status() && f->status()->isRecording; });
}

bool MonitorController::recordsTogether(const CameraFeed& feed) const {
    return shutterAllCameras_ && feed.status() && feed.status()->mode == CaptureMode::video;
}

bool MonitorController::shutterStopsRecording(const CameraFeed& feed) const {
    if (recordsTogether(feed)) return anyCameraRecording();
    return feed.status() && feed.status()->isRecording;
}

void MonitorController::shutterFromControls() {
    // A toggle on each camera would keep cameras that are out of step out of step.
    if (auto selected = selectedFeed(); selected && recordsTogether(*selected)) {
        recordOnEveryCamera();
        return;
    }
    for (const auto& feed : feeds_) {
        const auto& status = feed->status();
        if (status && status->mode == CaptureMode::video && !status->isRecording) {
            ensureOnAir();
            break;
        }
    }
    sendToCameras(CameraCommand::Shutter{});
}

void MonitorController::recordOnEveryCamera() {
    if (anyCameraRecording()) {
        send(CameraCommand::StopRecording{});
        return;
    }
    ensureOnAir();
    send(CameraCommand::StartRecording{});
}

void MonitorController::ensureOnAir() {
    if (!deckMode_) return;
    if (programID_ && feed(*programID_)) return;
    for (const auto& feed : feeds_)
        if (feed->status()) {
            putOnAir(*feed);
            return;
        }
}

void MonitorController::putOnAir(const CameraFeed& feed, std::optional<Date> madeAt) {
    if (programID_ == feed.id()) return;
    const std::string name = feed.name();
    const PeerId id = feed.id();
    setProgramID(id);
    setSelectedID(id);
    // A press handled late (the main thread was busy) happened when it was made, not when it was handled.
    const Date now = env_.now();
    const Date at = (madeAt && *madeAt < now ? *madeAt : now).addingTimeInterval(clockOffsetSeconds());
    rememberOnAir(id, name, at);
    send(CameraCommand::ProgramCut{name, at});
    // Until a camera confirms this cut, what its statuses say of the program is older than the cut.
    for (const auto& f : feeds_) {
        if (!f->status()) continue;
        auto& unconfirmed = programReports_[f->id()].unconfirmed;
        std::erase_if(unconfirmed, [&](const auto& sent) { return now.timeIntervalSince(sent.at) > programCutGrace; });
        unconfirmed.push_back({name, now});
    }
    if (importsFiles()) shootLibrary().addCut(name, at);
}

void MonitorController::putOnAirByIndex(int number, std::optional<Date> madeAt) {
    for (const auto& feed : feeds_)
        if (number >= 1 && cameraNumber(feed->id()) == number) return putOnAir(*feed, madeAt);
}

void MonitorController::rememberOnAir(const PeerId& peer, const std::string& name, std::optional<Date> since) {
    auto identity = identities_.find(peer);
    onAir_ = OnAir{identity == identities_.end() ? std::string() : identity->second.identity, name, since};
}

bool MonitorController::returnOnAir(const CameraFeed& feed) {
    // Only the camera that was on air when it was lost, back under a new peer identity, and nothing cut since.
    if (!onAir_ || onAir_->identity.empty() || !programID_ || this->feed(*programID_)) return false;
    auto identity = identities_.find(feed.id());
    if (identity == identities_.end() || identity->second.identity != onAir_->identity) return false;
    if (feed.name() != onAir_->name) {
        putOnAir(feed);  // renamed meanwhile: the program is on another name from now on
        return true;
    }
    setProgramID(feed.id());
    if (onAir_->since) {
        // It forgot, or never heard, that it is on air; its takes then carry the cut in force.
        sendCommand(CameraCommand::ProgramCut{feed.name(), onAir_->since}, feed.id());
        programReports_[feed.id()].unconfirmed.push_back({feed.name(), env_.now()});
    }
    return true;
}

void MonitorController::noteProgramCut(const std::optional<std::string>& name, const PeerId& from) {
    const Date now = env_.now();
    auto [entry, firstWord] = programReports_.try_emplace(from);
    auto& report = entry->second;
    const bool changed = report.said != name;
    report.said = name;
    std::erase_if(report.unconfirmed,
                  [&](const auto& sent) { return now.timeIntervalSince(sent.at) > programCutGrace; });
    if (firstWord) {
        if (auto returning = feed(from); returning && returnOnAir(*returning)) return;
    }
    if (!name) return;
    auto found = std::find_if(feeds_.begin(), feeds_.end(), [&](const FeedPtr& f) { return f->name() == *name; });
    if (firstWord) {
        // What the camera remembers from before: shown on air while nothing else is, never logged as a cut.
        if (!programID_ && found != feeds_.end()) {
            setProgramID((*found)->id());
            rememberOnAir((*found)->id(), *name, std::nullopt);
        }
        // Mid-take the crew is cutting: the deck switch, lost with the remote, is offered back at once.
        if (!deckMode_ && programID_ && anyCameraRecording()) {
            if (!liveCutOffered_) {
                if (auto onAir = feed(*programID_))
                    showMessage(onAir->name() + " is on air in this take: click Deck to cut live again");
            }
            setLiveCutOffered(true);
        }
        return;
    }
    // A repeated word is as old as the last cut the camera heard; only a change is news.
    if (!changed) return;
    auto confirmed = std::find_if(report.unconfirmed.begin(), report.unconfirmed.end(),
                                  [&](const auto& sent) { return sent.camera == *name; });
    if (confirmed != report.unconfirmed.end()) {
        report.unconfirmed.erase(report.unconfirmed.begin(), confirmed + 1);
        return;
    }
    // A cut from elsewhere that reached the camera before ours: ours, still on its way, comes after it.
    if (!report.unconfirmed.empty()) return;
    if (found == feeds_.end()) return;
    if (programID_ == (*found)->id()) return;
    setProgramID((*found)->id());
    // Heard of only now; the cameras' copies of it say when it was made.
    const Date heardAt = now.addingTimeInterval(clockOffsetSeconds());
    rememberOnAir((*found)->id(), (*found)->name(), heardAt);
    if (importsFiles()) shootLibrary().addHeardCut((*found)->name(), heardAt);
}

void MonitorController::addMarker(std::optional<Date> madeAt) {
    std::int64_t rate = 30;
    bool ntsc = false;
    if (auto selected = selectedFeed(); selected && selected->status()) {
        rate = selected->status()->frameRate;
        ntsc = selected->status()->ntsc;
        // A rate no camera records at would make every timecode wrong.
        if (rate < 1 || rate > 1000) {
            rate = 30;
            ntsc = false;
        }
    }
    std::vector<std::string> cameras;
    for (const auto& feed : feeds_)
        if (feed->status() && feed->status()->isRecording) cameras.push_back(feed->name());
    // A press handled late marks the moment it was made.
    if (madeAt && !(*madeAt < env_.now())) madeAt.reset();
    const auto stamp = shootLibrary().addMarker(cameras, rate, ntsc, madeAt);
    showMessage("Marker " + std::to_string(stamp.number) + " · " + stamp.timecode);
}

void MonitorController::getTodaysTakes(Date since) {
    send(CameraCommand::RequestDeckCopies{since});
    const auto count = feeds_.size();
    if (count == 0)
        showMessage("No cameras connected");
    else
        showMessage("Asked " + std::to_string(count) + " camera" + (count == 1 ? "" : "s") + " for their takes");
}

void MonitorController::requestTakeAgain(const std::vector<Uuid>& ids) {
    send(CameraCommand::RequestDeckCopiesOf{ids});
    showMessage(feeds_.empty() ? "No cameras connected" : "Asked the cameras for this take again");
}

bool MonitorController::focusAt(QPointF point, const CameraFeed& feed) {
    if (!feed.status() || !feed.receiver()) return false;
    auto fraction = feed.receiver()->devicePoint(point);
    if (!fraction) return false;
    const double x = fraction->x(), y = fraction->y();
    if (!(std::isfinite(x) && std::isfinite(y) && x >= 0 && x <= 1 && y >= 0 && y <= 1)) return false;
    sendCommand(CameraCommand::Focus{x, y}, feed.id());
    return true;
}

void MonitorController::deleteCaptures(const std::vector<GalleryItem>& items, const CameraFeed& feed) {
    CameraCommand::DeleteCaptures command;
    for (const auto& item : items) command.ids.push_back(item.id);
    sendCommand(command, feed.id());
}

double MonitorController::clockOffsetSeconds() const {
    const double offset = clockOffset();
    return std::isfinite(offset) ? offset : 0.0;
}

}  // namespace morvane
