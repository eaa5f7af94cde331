// What each heard word does, and switching the words off.

#include "platform/defaults.h"
#include "remote/monitor_controller.h"

namespace morvane {

std::string MonitorController::storedWord(VoiceWord word) const {
    switch (word) {
        case VoiceWord::shutter:
            return env_.defaults->stringValue("voiceKeyword", "pemble");
        case VoiceWord::record:
            return env_.defaults->stringValue("recordKeyword", "action");
        case VoiceWord::stop:
            return env_.defaults->stringValue("stopKeyword", "cut");
        case VoiceWord::mark:
            return env_.defaults->stringValue("markKeyword", "mark");
    }
    return {};
}

void MonitorController::stopVoice(const std::string& text) {
    showMessage(text);
    if (voice_) voiceOff();
}

void MonitorController::voiceOff() {
    auto trigger = std::move(voice_);
    voice_.reset();
    if (trigger && stopVoiceTrigger_) stopVoiceTrigger_(*trigger);
    if (voiceEnabled_) {
        voiceEnabled_ = false;
        emit voiceEnabledChanged();
    }
    if (heardWords_) {
        heardWords_.reset();
        emit heardWordsChanged();
    }
}

void MonitorController::voiceShutter() {
    auto target = selectedFeed();
    if (!target) return;
    if (target->status() && target->status()->countdown) return;  // a timed shot is already counting down
    showMessage("Heard “" + storedWord(VoiceWord::shutter) + "”");
    std::weak_ptr<MonitorController> weak = weak_from_this();
    env_.mainExecutor->asyncAfter(0.5, [weak] {
        if (auto self = weak.lock()) self->shutterFromControls();
    });
}

void MonitorController::voiceRecord() {
    showMessage("Heard “" + storedWord(VoiceWord::record) + "”");
    sendToCameras(CameraCommand::StartRecording{});
}

void MonitorController::voiceStop() {
    showMessage("Heard “" + storedWord(VoiceWord::stop) + "”");
    sendToCameras(CameraCommand::StopRecording{});
}

void MonitorController::voiceHeard(const std::string& words) {
    heardWords_ = words;
    emit heardWordsChanged();
}

}  // namespace morvane
