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

void MonitorController::sendPacket(const Bytes& packet, const PeerId& peer) {
    peers_->sendTo(packet, peer);
}

void MonitorController::sendCommand(const CameraCommand& command, const PeerId& peer) {
    if (auto packet = encodeMessage(PacketType::command, command)) sendPacket(*packet, peer);
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

void MonitorController::shutterFromControls() {
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
    const bool anyRecording = std::any_of(feeds_.begin(), feeds_.end(),
                                          [](const FeedPtr& f) { return f->status() && f->status()->isRecording; });
    if (anyRecording) {
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

void MonitorController::putOnAir(const CameraFeed& feed) {
    if (programID_ == feed.id()) return;
    const std::string name = feed.name();
    const PeerId id = feed.id();
    setProgramID(id);
    setSelectedID(id);
    send(CameraCommand::ProgramCut{name});
    if (importsFiles()) shootLibrary().addCut(name, env_.now().addingTimeInterval(clockOffsetSeconds()));
}

void MonitorController::putOnAirByIndex(int number) {
    for (const auto& feed : feeds_)
        if (number >= 1 && cameraNumber(feed->id()) == number) return putOnAir(*feed);
}

void MonitorController::noteProgramCut(const std::optional<std::string>& name) {
    if (!name) return;
    auto found = std::find_if(feeds_.begin(), feeds_.end(), [&](const FeedPtr& f) { return f->name() == *name; });
    if (found == feeds_.end()) return;
    if (programID_ == (*found)->id()) return;
    setProgramID((*found)->id());
    if (importsFiles()) shootLibrary().addCut((*found)->name(), env_.now().addingTimeInterval(clockOffsetSeconds()));
}

void MonitorController::addMarker() {
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
    const auto stamp = shootLibrary().addMarker(cameras, rate, ntsc);
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
