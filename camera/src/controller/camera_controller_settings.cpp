// What the crew set on the camera, kept in its folder across restarts: read at the start and applied through the
// commands that set it, written whenever a command changed it.

#include "camera/camera_controller.h"
#include "platform/atomic_file.h"
#include "platform/log.h"
#include "protocol/timeline_rate.h"

namespace morvane {

void CameraController::restoreSettings() {
    if (!kept_) return;
    const CameraStatus kept = std::move(*kept_);
    kept_.reset();
    restoring_ = true;
    for (const auto& command : CrewSettings::commands(kept, keptLUT_)) handleCommand(command, std::nullopt);
    restoring_ = false;
    keptFormat_ = kept;
    // The file keeps what it holds until the device has answered: what it cannot do yet (zoom beyond what it is
    // known to reach) is not dropped from it meanwhile.
    keptSettings_ = settingsNow();
}

void CameraController::restoreForDevice() {
    if (!keptFormat_) return;
    const CameraStatus kept = std::move(*keptFormat_);
    keptFormat_.reset();
    // Again now that the device has told what it can do (how far it zooms, say), unless a remote has set the camera
    // since it started: that word is newer.
    if (!crewSetSinceStart_) {
        restoring_ = true;
        for (const auto& command : CrewSettings::commands(kept, keptLUT_)) handleCommand(command, std::nullopt);
        restoring_ = false;
    }
    keptLUT_.reset();
    const bool ntsc = kept.ntsc && TimelineRate::ntscRates().count(kept.frameRate) > 0;
    const bool same =
        kept.resolution == status_.resolution && kept.frameRate == status_.frameRate && ntsc == status_.ntsc;
    // A format a remote chose since the start stands too.
    if (!same && !rateChosen_) chooseFormat(kept.resolution, kept.frameRate, kept.ntsc);
    keepSettings();
}

Json CameraController::settingsNow() const {
    CameraStatus settings = status_;
    // Until the device has been asked for the kept format, the file keeps it.
    if (keptFormat_) {
        settings.resolution = keptFormat_->resolution;
        settings.frameRate = keptFormat_->frameRate;
        settings.ntsc = keptFormat_->ntsc;
    }
    return CrewSettings::encode(settings);
}

bool CameraController::keepSettings() {
    if (restoring_) return false;
    Json encoded = settingsNow();
    if (encoded == keptSettings_) return false;
    keptSettings_ = encoded;
    // Written off the main queue, the newest only: a pinch on the zoom is many commands a second.
    bool posted;
    {
        std::lock_guard lock(settingsWrite_->lock);
        posted = settingsWrite_->next.has_value();
        settingsWrite_->next = encoded.dump(2) + "\n";
    }
    if (posted) return true;
    settingsQueue_.async([write = settingsWrite_, file = options_.folder / CrewSettings::fileName] {
        std::string text;
        {
            std::lock_guard lock(write->lock);
            text = std::move(*write->next);
            write->next.reset();
        }
        if (!writeFileAtomically(file, text))
            log::error("CameraController", "couldn't keep the camera's settings in " + file.string());
    });
    return true;
}

void CameraController::keepLUT(const CameraCommand::LoadCustomLUT& lut) {
    if (restoring_) return;
    settingsQueue_.async(
        [text = CrewSettings::encodeLUT(lut).dump(), file = options_.folder / CrewSettings::lutFileName] {
            if (!writeFileAtomically(file, text))
                log::error("CameraController", "couldn't keep the custom LUT in " + file.string());
        });
}

}  // namespace morvane
