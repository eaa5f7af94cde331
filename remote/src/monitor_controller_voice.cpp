// What each heard word does, and switching the words off.

#include "remote/monitor_controller.h"
#include "remote/voice_trigger.h"

namespace morvane {

namespace {

const char* keyOf(MonitorController::VoiceWord word) {
    switch (word) {
        case MonitorController::VoiceWord::shutter:
            return VoiceTrigger::shutterKey;
        case MonitorController::VoiceWord::record:
            return VoiceTrigger::recordKey;
        case MonitorController::VoiceWord::stop:
            return VoiceTrigger::stopKey;
        case MonitorController::VoiceWord::mark:
            return VoiceTrigger::markKey;
    }
    return VoiceTrigger::shutterKey;
}

}  // namespace

std::string MonitorController::storedWord(VoiceWord word) const {
    return VoiceTrigger::storedWord(keyOf(word), env_.defaults);
}

void MonitorController::stopVoice(const std::string& text) {
    showMessage(text);
    if (voice_) voiceOff();
}

void MonitorController::voiceOff() {
    auto trigger = std::move(voice_);
    voice_.reset();
    if (trigger) trigger->stop();
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
    showMessage(VoiceTrigger::heardMessage(VoiceTrigger::shutterKey, env_.defaults));
    std::weak_ptr<MonitorController> weak = weak_from_this();
    env_.mainExecutor->asyncAfter(0.5, [weak] {
        if (auto self = weak.lock()) self->shutterFromControls();
    });
}

void MonitorController::voiceRecord() {
    showMessage(VoiceTrigger::heardMessage(VoiceTrigger::recordKey, env_.defaults));
    sendToCameras(CameraCommand::StartRecording{});
}

void MonitorController::voiceStop() {
    showMessage(VoiceTrigger::heardMessage(VoiceTrigger::stopKey, env_.defaults));
    sendToCameras(CameraCommand::StopRecording{});
}

void MonitorController::voiceHeard(const std::string& words) {
    heardWords_ = words;
    emit heardWordsChanged();
}

}  // namespace morvane
