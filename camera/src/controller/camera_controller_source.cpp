// The capture source as the camera's settings drive it: its formats, sizes and rates, its capabilities and the
// picture settings, kept in the status as the source really has them.

#include <cmath>

#include "camera/camera_controller.h"
#include "platform/log.h"
#include "protocol/timeline_rate.h"

namespace morvane {

std::pair<std::int64_t, bool> nominalRate(double fps) {
    if (!std::isfinite(fps) || fps <= 0) return {30, false};
    const bool ntsc = std::abs(fps - std::round(fps)) > 0.01;
    const auto nominal = static_cast<std::int64_t>(std::llround(ntsc ? fps * 1001.0 / 1000.0 : fps));
    return {std::max<std::int64_t>(1, nominal), ntsc && TimelineRate::ntscRates().count(nominal) > 0};
}

SourceMode sourceModeFor(const Resolution& resolution, std::int64_t frameRate, bool ntsc) {
    const auto rate = static_cast<int>(std::clamp<std::int64_t>(frameRate, 1, 240));
    const bool fractional = ntsc && TimelineRate::ntscRates().count(rate) > 0;
    return SourceMode{static_cast<int>(std::clamp<std::int64_t>(resolution.width, 2, 16384)),
                      static_cast<int>(std::clamp<std::int64_t>(resolution.height, 2, 16384)),
                      fractional ? rate * 1000 : rate, fractional ? 1001 : 1};
}

std::vector<FormatOption> formatOptions(const std::vector<SourceMode>& modes) {
    std::vector<FormatOption> formats;
    for (const auto& mode : modes) {
        const Resolution resolution{mode.width, mode.height};
        auto format = std::find_if(formats.begin(), formats.end(),
                                   [&](const FormatOption& f) { return f.resolution == resolution; });
        if (format == formats.end()) format = formats.insert(formats.end(), FormatOption{resolution, {}, {}, {}});
        const std::int64_t nominal = nominalRate(mode.fps()).first;
        if (std::find(format->frameRates.begin(), format->frameRates.end(), nominal) == format->frameRates.end()) {
            format->frameRates.push_back(nominal);
        }
    }
    for (auto& format : formats) std::sort(format.frameRates.begin(), format.frameRates.end());
    return formats;
}

PictureSettings pictureSettingsOf(const CameraStatus& status) {
    PictureSettings p;
    p.exposureBias = status.exposureBias;
    if (const auto* manual = std::get_if<ExposureSetting::Manual>(&status.exposure.value)) {
        p.iso = manual->iso;
        p.shutter = manual->shutter;
    }
    if (const auto* manual = std::get_if<WhiteBalance::Manual>(&status.whiteBalance.value)) {
        p.kelvin = manual->kelvin;
        p.tint = manual->tint;
    }
    if (const auto* manual = std::get_if<FocusSetting::Manual>(&status.focus.value)) p.focus = manual->lensPosition;
    p.zoom = status.zoom;
    return p;
}

void showPicture(CameraStatus& status, const PictureSettings& applied, const SourceCapabilities& caps) {
    status.exposureBias = applied.exposureBias;
    if (applied.iso && applied.shutter) {
        status.exposure = ExposureSetting::Manual{*applied.iso, *applied.shutter};
    } else {
        status.exposure = ExposureSetting::Auto{};
    }
    if (applied.kelvin) {
        status.whiteBalance = WhiteBalance::Manual{*applied.kelvin, applied.tint};
    } else {
        status.whiteBalance = WhiteBalance::Auto{};
    }
    if (applied.focus) {
        status.focus = FocusSetting::Manual{*applied.focus};
    } else if (!(status.focus.is<FocusSetting::Locked>() && caps.manualFocus)) {
        status.focus = FocusSetting::Auto{};
    }
    status.zoom = applied.zoom;
}

void CameraController::describeSource() {
    std::weak_ptr<CameraController> weak = weak_from_this();
    auto main = options_.main;
    streamer_->configureSource("description", [weak, main](CaptureSource& source) {
        auto modes = source.modes();
        auto mode = source.mode();
        auto caps = source.capabilities();
        auto silent = source.silentMicrophone();
        main->async([weak, modes = std::move(modes), mode, caps, silent] {
            auto self = weak.lock();
            if (!self) return;
            // A microphone that gave nothing as the source started: the camera films without sound, and says so.
            if (silent) {
                self->streamer_->postEvent(CameraStreamer::microphoneEvent(silent));
            } else {
                // Its sound is there (again): a remote that still shows the microphone silent, from this run of the
                // camera or an earlier one, takes that away, with nothing to read.
                CameraEvent over = CameraStreamer::microphoneEvent(std::nullopt);
                over.message.reset();
                self->streamer_->postEvent(over);
            }
            CameraStatus& s = self->status_;
            s.formats = formatOptions(modes);
            if (mode) {
                s.resolution = Resolution{mode->width, mode->height};
                if (s.formats.empty()) s.formats = formatOptions({*mode});  // a source without a list has its own mode
                if (!self->rateChosen_) {
                    std::tie(s.frameRate, s.ntsc) = nominalRate(mode->fps());
                    self->streamer_->setRecordingRate(static_cast<int>(s.frameRate), s.ntsc);
                }
            }
            self->capabilities_ = caps;
            s.supportsManualWhiteBalance = caps.manualWhiteBalance;
            s.supportsManualFocus = caps.manualFocus;
            s.maxZoom = std::max(1.0, caps.maxZoom);
            s.minISO = caps.minISO;
            s.maxISO = caps.maxISO;
            s.minShutter = caps.minShutter;
            s.maxShutter = caps.maxShutter;
            s.stabilizationModes = {};  // no source here stabilises its picture
            s.stabilization = Stabilization::off;
            self->restoreForDevice();
            self->publishStatus();
        });
    });
}

void CameraController::applyMode(const Resolution& before, std::int64_t rateBefore, bool ntscBefore) {
    const SourceMode wanted = sourceModeFor(status_.resolution, status_.frameRate, status_.ntsc);
    rateChosen_ = true;
    streamer_->setRecordingRate(static_cast<int>(status_.frameRate), status_.ntsc);
    std::weak_ptr<CameraController> weak = weak_from_this();
    auto main = options_.main;
    const int generation = ++modeGeneration_;
    auto answer = [weak, main, generation, before, rateBefore, ntscBefore](bool switched,
                                                                           std::optional<SourceMode> mode) {
        main->async([weak, mode, switched, generation, before, rateBefore, ntscBefore] {
            auto self = weak.lock();
            // A later change is on its way: its answer tells.
            if (!self || generation != self->modeGeneration_) return;
            CameraStatus& s = self->status_;
            if (!switched) {
                s.frameRate = rateBefore;
                s.ntsc = ntscBefore;
                self->streamer_->setRecordingRate(static_cast<int>(rateBefore), ntscBefore);
                self->streamer_->postEvent(
                    CameraEvent{CameraEvent::Kind::info, "The camera can't film in that format", {}});
            }
            // The size the source gives; the rate stays the recording rate, which the recorder keeps whatever
            // the source delivers.
            s.resolution = mode ? Resolution{mode->width, mode->height} : before;
            self->keepSettings();
            self->publishStatus();
        });
    };
    streamer_->configureSource(
        "mode",
        [wanted, answer](CaptureSource& source) {
            const bool switched = source.setMode(wanted);
            if (!switched) log::info("CameraController", "the capture source kept its mode");
            answer(switched, source.mode());
        },
        [answer] { answer(false, std::nullopt); });
}

void CameraController::applyPicture() {
    applyPicture(pictureSettingsOf(status_));
}

void CameraController::applyPicture(const PictureSettings& wanted) {
    wantedPicture_ = wanted;
    std::weak_ptr<CameraController> weak = weak_from_this();
    auto main = options_.main;
    const int generation = ++pictureGeneration_;
    // `applied` none: the device did not answer, and holds what it held before as far as can be known.
    auto answer = [weak, main, generation](std::optional<PictureSettings> applied,
                                           std::optional<SourceCapabilities> caps) {
        main->async([weak, applied, caps, generation] {
            auto self = weak.lock();
            // A later change is on its way: its answer tells.
            if (!self || generation != self->pictureGeneration_) return;
            if (applied) self->heldPicture_ = *applied;
            showPicture(self->status_, self->heldPicture_, caps.value_or(self->capabilities_));
            self->publishStatus();
        });
    };
    streamer_->configureSource(
        "picture",
        [wanted, answer](CaptureSource& source) {
            const PictureSettings applied = source.applyPicture(wanted);
            answer(applied, source.capabilities());
        },
        [answer] { answer(std::nullopt, std::nullopt); });
}

}  // namespace morvane
