// The remote's commands, as the camera answers them.

#include <cmath>

#include "camera/camera_controller.h"
#include "camera/color_cube.h"
#include "camera/deck_copy.h"
#include "platform/log.h"
#include "platform/utf8.h"
#include "protocol/message_codec.h"
#include "protocol/timeline_rate.h"

namespace morvane {

namespace fs = std::filesystem;

namespace {

template <class... Ts>
struct Overloaded : Ts... {
    using Ts::operator()...;
};
template <class... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;

double finiteOr(double value, double fallback) {
    return std::isfinite(value) ? value : fallback;
}

std::string receivedName(const std::string& name) {
    return std::string(utf8Prefix(name, CameraController::maxReceivedNameBytes));
}

// What an edit holds in memory, near enough to bound what a remote can make the camera keep.
std::size_t footprint(const DeckEdit& edit) {
    std::size_t bytes = sizeof edit + edit.name.size();
    for (const auto& piece : edit.pieces) bytes += sizeof piece + piece.camera.size();
    if (const auto* camera = std::get_if<DeckEdit::Sound::Camera>(&edit.sound.value)) bytes += camera->name.size();
    return bytes;
}

// Keeps the newest edits within the bounds; the oldest go first.
void keepNewest(std::vector<DeckEdit>& edits) {
    std::size_t kept = 0, bytes = 0;
    auto it = edits.end();
    while (it != edits.begin()) {
        const std::size_t size = footprint(*std::prev(it));
        if (kept == CameraController::maxDeckEdits || bytes + size > CameraController::maxDeckEditBytes) break;
        ++kept;
        bytes += size;
        --it;
    }
    edits.erase(edits.begin(), it);
}

std::shared_ptr<StreamLUT> stageFor(PreviewLUT lut, const std::shared_ptr<StreamLUT>& custom) {
    switch (lut) {
        case PreviewLUT::none:
            return nullptr;
        case PreviewLUT::appleLogToRec709:
            return std::make_shared<StreamLUT>("Log to Rec.709", cubes::logToRec709(), 1920);
        case PreviewLUT::appleLog2ToRec709:
            return std::make_shared<StreamLUT>("Log 2 to Rec.709", cubes::log2ToRec709(), 1920);
        case PreviewLUT::custom:
            return custom;
    }
    return nullptr;
}

}  // namespace

void CameraController::handleCommand(const CameraCommand& command, const std::optional<PeerId>& from) {
    using C = CameraCommand;
    bool statusChanged = true;
    std::visit(
        Overloaded{
            [&](const C::SetMode& c) { status_.mode = c.mode; },
            [&](const C::SetTimer& c) { status_.timerSeconds = std::clamp<std::int64_t>(c.seconds, 0, 60); },
            [&](const C::SetExposureBias& c) {
                status_.exposureBias = std::clamp(static_cast<float>(finiteOr(c.stops, 0)), -8.0f, 8.0f);
                applyPicture();
            },
            [&](const C::SetZoom& c) {
                status_.zoom = std::clamp(finiteOr(c.factor, 1), 1.0, status_.maxZoom);
                applyPicture();
            },
            [&](const C::SwitchCamera&) { statusChanged = false; },  // one camera on this machine
            [&](const C::Shutter&) {
                if (status_.mode == CaptureMode::video) {
                    recordingStart_ ? stopRecording() : startRecording();
                } else {
                    takePhoto();
                }
            },
            [&](const C::StartRecording&) { startRecording(); },
            [&](const C::StopRecording&) { stopRecording(); },
            [&](const C::SetFormat& c) { chooseFormat(c.resolution, c.frameRate, status_.ntsc); },
            [&](const C::SetFrameRate& c) { chooseFormat(status_.resolution, c.frameRate, c.ntsc); },
            [&](const C::SetColorProfile& c) { status_.colorProfile = c.profile; },
            [&](const C::SetStabilization& c) {
                // Only what the source offers: the status never claims a mode the picture does not have.
                const auto& offered = status_.stabilizationModes;
                if (c.stabilization == Stabilization::off ||
                    std::find(offered.begin(), offered.end(), c.stabilization) != offered.end()) {
                    status_.stabilization = c.stabilization;
                }
            },
            [&](const C::SetCodec& c) {
                status_.codec = c.codec;
                applyToStreamer([codec = c.codec](CameraStreamer& s) { s.codec = codec; });
            },
            [&](const C::SetRecordToDrive& c) {
                status_.recordToDrive = c.on;
                applyToStreamer([on = c.on](CameraStreamer& s) { s.recordToDrive = on; });
            },
            [&](const C::SetPreviewLUT& c) {
                status_.previewLUT = c.lut;
                std::shared_ptr<StreamLUT> stage = stageFor(c.lut, customLUT_);
                applyToStreamer([stage](CameraStreamer& s) { s.previewLUT = stage; });
            },
            [&](const C::LoadCustomLUT& c) {
                // Checked before use: a bad table keeps the LUT in use and says so.
                std::optional<ColorCube> cube;
                if (c.size >= 2 && c.size <= 64) cube = makeCustomCube(static_cast<int>(c.size), c.data);
                if (!cube) {
                    streamer_->postEvent(CameraEvent{CameraEvent::Kind::info, "This LUT can't be used", {}});
                    statusChanged = false;
                    return;
                }
                const std::string name = receivedName(c.name);
                auto stage =
                    std::make_shared<StreamLUT>(name, std::make_shared<const ColorCube>(std::move(*cube)), 1920);
                customLUT_ = stage;
                keepLUT({name, c.size, c.data});
                status_.customLUTName = name;
                status_.previewLUT = PreviewLUT::custom;
                applyToStreamer([stage](CameraStreamer& s) { s.previewLUT = stage; });
            },
            [&](const C::SetWhiteBalance& c) {
                status_.whiteBalance = c.whiteBalance;
                applyPicture();
            },
            [&](const C::SetFocusMode& c) {
                status_.focus = c.focus;
                applyPicture();
            },
            [&](const C::SetPortrait& c) { status_.portrait = c.on && status_.supportsPortrait; },
            [&](const C::SetExposureMode& c) {
                status_.exposure = c.exposure;
                applyPicture();
            },
            [&](const C::SetManualAngle& c) {
                if (std::isfinite(c.angle) && c.angle > 0 && c.angle <= 360) status_.shutterAngle = c.angle;
            },
            [&](const C::SetAperture& c) { status_.aperture = c.aperture; },
            [&](const C::SetDimmed& c) { status_.dimmed = c.on; },
            [&](const C::SetAids& c) {
                status_.zebras = c.aids.zebras;
                status_.peaking = c.aids.peaking;
                status_.peakingLevel = c.aids.peakingLevel;
                status_.falseColor = c.aids.falseColor;
                status_.clipping = c.aids.clipping;
                status_.scope = c.aids.scope;
                applyToStreamer([aids = c.aids](CameraStreamer& s) { s.aids = aids; });
            },
            [&](const C::SetLoupe& c) {
                status_.loupe = c.on;
                status_.loupeContours = c.contours;
                std::optional<bool> contours;
                if (c.on) contours = c.contours;
                applyToStreamer([contours](CameraStreamer& s) { s.loupeContours = contours; });
            },
            [&](const C::SetAudioInput& c) {
                for (const auto& input : status_.audioInputs) {
                    if (input.id == c.id) status_.audioInput = c.id;
                }
            },
            [&](const C::DeleteCaptures& c) {
                for (const auto& item : store_->remove(c.ids)) {
                    std::error_code ec;
                    if (item.vaultFile && item.vaultFile->find('/') == std::string::npos && *item.vaultFile != ".." &&
                        !item.vaultFile->empty()) {
                        fs::remove(vaultFolder() / *item.vaultFile, ec);
                    }
                }
                sendGallery(std::nullopt);
            },
            [&](const C::MonitorHello& c) {
                if (!from) return;
                if (c.acceptsFiles) {
                    fileReceivers_.insert(*from);
                } else {
                    fileReceivers_.erase(*from);
                }
                sendNextFile();
            },
            [&](const C::MasterHello&) {
                if (!from) return;
                masterIDs_.insert(*from);
                clockSync_.setMaster(*from);
                pingClock();
            },
            [&](const C::DeckHello&) {
                if (!from) return;
                deckReceivers_.insert(*from);
                autoDecks_.insert(*from);
            },
            [&](const C::DeckStopAutoCopies&) {
                if (from) autoDecks_.erase(*from);
            },
            [&](const C::RequestGallery&) {
                sendGallery(from);
                statusChanged = false;
            },
            [&](const C::DeckEdit& c) {
                std::erase_if(deckEdits_, [&](const DeckEdit& e) { return e.id == c.edit.id; });
                deckEdits_.push_back(c.edit);
                keepNewest(deckEdits_);
                statusChanged = false;
            },
            [&](const C::SetVideo& c) {
                if (!from) return;
                {
                    std::lock_guard lock(videoOffLock_);
                    if (c.on) {
                        videoOff_.erase(*from);
                    } else {
                        videoOff_.insert(*from);
                    }
                }
                if (c.on) {
                    encoder_->addPeer(*from);
                } else {
                    encoder_->removePeer(*from);
                }
                statusChanged = false;
            },
            [&](const C::SetStreamSize& c) {
                if (from && c.longSide > 0)
                    encoder_->setSize(*from, static_cast<int>(std::min<std::int64_t>(c.longSide, 7680)));
                statusChanged = false;
            },
            [&](const C::SetStreamBitRate& c) {
                if (c.bitsPerSecond > 0) {
                    encoder_->setTargetBitRate(static_cast<int>(std::min<std::int64_t>(c.bitsPerSecond, 100'000'000)));
                }
                statusChanged = false;
            },
            [&](const C::ProgramCut& c) {
                const std::string camera = receivedName(c.camera);
                // The moment the operator cut, not the moment a slow link or a busy camera let it in here.
                const Date received = Date::now().addingTimeInterval(clockSync_.offset());
                cutLog_->add(ProgramCut{camera, CutLog::cutMoment(c.at, received)});
                status_.program = camera;
            },
            [&](const C::RequestDeckCopies& c) {
                if (from) deckReceivers_.insert(*from);
                std::vector<TakeLog::Entry> wanted;
                for (const auto& entry : takeLog_->entries()) {
                    if (entry.info.isVideo && entry.info.capturedAt >= c.since) wanted.push_back(entry);
                }
                sendDeckCopies(wanted);
            },
            [&](const C::RequestDeckCopiesOf& c) {
                if (from) deckReceivers_.insert(*from);
                std::vector<TakeLog::Entry> wanted;
                for (const auto& entry : takeLog_->entries()) {
                    if (std::find(c.ids.begin(), c.ids.end(), entry.info.id) != c.ids.end()) wanted.push_back(entry);
                }
                sendDeckCopies(wanted);
            },
            [&](const C::Focus& c) {
                // No lens to drive here: the point becomes where the loupe looks.
                const double x = std::isfinite(c.x) ? std::clamp(c.x, 0.0, 1.0) : 0.5;
                const double y = std::isfinite(c.y) ? std::clamp(c.y, 0.0, 1.0) : 0.5;
                applyToStreamer([x, y](CameraStreamer& s) { s.loupeCenter = {x, y}; });
                statusChanged = false;
            },
            [&](const C::RequestPreview& c) {
                if (from) sendPreview(c.id, *from);
                statusChanged = false;
            },
            [&](const C::SetTransfersPaused& c) {
                status_.transfersPaused = c.paused;
                if (c.paused && activeTransfer_) activeTransfer_->cancel();
                if (!c.paused) sendNextFile();
            },
        },
        command.value);
    if (statusChanged) {
        if (keepSettings()) crewSetSinceStart_ = true;
        publishStatus();
    }
}

void CameraController::chooseFormat(const Resolution& resolution, std::int64_t frameRate, bool ntsc) {
    const CameraStatus before = status_;
    status_.resolution = resolution;
    status_.frameRate = std::clamp<std::int64_t>(frameRate, 1, 240);
    status_.ntsc = ntsc && TimelineRate::ntscRates().count(status_.frameRate) > 0;
    applyMode(before.resolution, before.frameRate, before.ntsc);
}

void CameraController::takePhoto() {
    const auto seconds = status_.timerSeconds;
    if (seconds <= 0) {
        applyToStreamer([](CameraStreamer& s) { s.photoRequested = true; });
        return;
    }
    if (countdownRunning_) return;
    countdownRunning_ = true;
    std::weak_ptr<CameraController> weak = weak_from_this();
    // The countdown shows on the remote through the status, a second at a time.
    auto step = std::make_shared<std::function<void(std::int64_t)>>();
    *step = [weak, step](std::int64_t left) {
        auto self = weak.lock();
        if (!self) return;
        if (left <= 0) {
            self->status_.countdown.reset();
            self->countdownRunning_ = false;
            self->applyToStreamer([](CameraStreamer& s) { s.photoRequested = true; });
            self->publishStatus();
            *step = nullptr;  // ends the cycle
            return;
        }
        self->status_.countdown = left;
        self->publishStatus();
        auto next = *step;
        self->options_.main->asyncAfter(1.0, [next, left] { next(left - 1); });
    };
    (*step)(seconds);
}

void CameraController::startRecording() {
    if (recordingStart_) return;  // a take is running: it is left alone
    recordingStart_ = Date::now();
    status_.isRecording = true;
    applyToStreamer([](CameraStreamer& s) {
        if (!s.isRecording()) s.recordingRequested = true;
    });
}

void CameraController::stopRecording() {
    if (!recordingStart_) return;
    recordingStart_.reset();
    status_.isRecording = false;
    status_.recordingElapsed.reset();
    applyToStreamer([](CameraStreamer& s) {
        s.recordingRequested = false;
        s.stopRecording();
    });
}

void CameraController::sendDeckCopies(const std::vector<TakeLog::Entry>& entries) {
    // Each take's copy is made once, off the main queue, then queued for the decks.
    for (const auto& entry : entries) {
        if (deckOutbox_->item(entry.info.id) || copiesInWork_.count(entry.info.id)) continue;
        std::optional<fs::path> source;
        if (entry.vaultFile) {
            source = vaultFolder() / *entry.vaultFile;
        } else if (entry.photoAssetID) {
            source = options_.photoLibrary->folder() / *entry.photoAssetID;
        }
        std::error_code ec;
        if (!source || !fs::is_regular_file(*source, ec)) continue;
        copiesInWork_.insert(entry.info.id);
        const fs::path target = deckOutbox_->directory() / (entry.info.id.uuidString() + ".mov");
        std::weak_ptr<CameraController> weak = weak_from_this();
        copyQueue_.async([weak, source = *source, target, info = entry.info, main = options_.main] {
            std::string error;
            const bool made = makeDeckCopy(source, target, &error);
            if (!made) log::error("CameraController", "couldn't make a deck copy: " + error);
            main->async([weak, made, target, info] {
                auto self = weak.lock();
                if (!self) return;
                self->copiesInWork_.erase(info.id);
                if (made) self->deckOutbox_->add({info, Outbox::Item::Location::outbox, target.filename().string()});
                self->sendNextDeckCopy();
            });
        });
    }
    sendNextDeckCopy();
}

void CameraController::sendNextDeckCopy() {
    status_.deckCopiesPreparing = static_cast<std::int64_t>(copiesInWork_.size());
    status_.deckCopiesWaiting = static_cast<std::int64_t>(deckOutbox_->items().size());
    if (activeDeckTransfer_) status_.deckCopyProgress = activeDeckTransfer_->fractionCompleted();
    publishStatus();
    if (activeDeckTransfer_ || deckReceivers_.empty()) return;
    const auto items = deckOutbox_->items();
    if (items.empty()) return;
    const auto& item = items.front();
    const PeerId deck = *deckReceivers_.begin();
    if (auto announce = encodeMessage(PacketType::transferInfo, item.info)) sendTo(*announce, deck);
    std::weak_ptr<CameraController> weak = weak_from_this();
    activeDeckTransfer_ =
        peers_->sendResource(deckOutbox_->directory() / item.fileName, item.info.id.uuidString(), deck,
                             [weak, id = item.info.id](const std::optional<std::string>& error) {
                                 auto self = weak.lock();
                                 if (!self) return;
                                 self->activeDeckTransfer_.reset();
                                 self->status_.deckCopyProgress.reset();
                                 if (!error) self->delivered(id, *self->deckOutbox_);
                                 self->sendNextDeckCopy();
                             });
}

}  // namespace morvane
