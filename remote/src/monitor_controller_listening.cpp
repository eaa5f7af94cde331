// Switching voice words on: permission, the trigger and its callbacks.

#include "remote/monitor_controller.h"
#include "remote/voice_trigger.h"

namespace morvane {

void MonitorController::toggleVoice() {
    if (voiceEnabled_) {
        voiceOff();
        return;
    }
    std::weak_ptr<MonitorController> weak = weak_from_this();
    VoiceTrigger::requestPermissions(
        true,
        [weak](bool granted) {
            if (auto self = weak.lock()) self->startVoice(granted);
        },
        env_.mainExecutor);
}

void MonitorController::startVoice(bool granted) {
    if (!granted) {
        voicePermissionText();
        return;
    }
    // A second switch-on answered while the first one already listens: one microphone, one listener.
    if (voice_) return;
    std::shared_ptr<VoiceTrigger> trigger;
    if (env_.makeVoiceTrigger) {
        trigger = env_.makeVoiceTrigger();
    } else {
        VoiceTrigger::Environment voiceEnv;
        voiceEnv.defaults = env_.defaults;
        voiceEnv.mainQueue = env_.mainExecutor;
        trigger = VoiceTrigger::make(voiceEnv);
    }
    std::weak_ptr<MonitorController> weak = weak_from_this();
    trigger->onIssue = [weak](const std::string& text) {
        if (auto self = weak.lock()) self->stopVoice(text);
    };
    trigger->onTrigger = [weak] {
        if (auto self = weak.lock()) self->voiceShutter();
    };
    trigger->onMark = [weak] {
        if (auto self = weak.lock()) self->addMarker();
    };
    trigger->onRecord = [weak] {
        if (auto self = weak.lock()) self->voiceRecord();
    };
    trigger->onStop = [weak] {
        if (auto self = weak.lock()) self->voiceStop();
    };
    trigger->onHeard = [weak](const std::string& words) {
        if (auto self = weak.lock()) self->voiceHeard(words);
    };
    if (!trigger->start(VoiceTrigger::Source::microphone)) {
        // The reason has been shown through onIssue; the trigger is dropped.
        trigger->onIssue = nullptr;
        return;
    }
    voice_ = std::move(trigger);
    if (!voiceEnabled_) {
        voiceEnabled_ = true;
        emit voiceEnabledChanged();
    }
    showMessage(VoiceTrigger::listeningMessage(env_.defaults));
}

void MonitorController::voicePermissionText() {
    // Recognition runs on the installed model and needs no consent; what a desktop can refuse is the microphone.
    showMessage(
        "Voice words can't use the microphone: allow Brindlecroft to use it in the desktop's privacy settings, then "
        "switch voice words on again");
}

}  // namespace morvane
