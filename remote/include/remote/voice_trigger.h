#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/dispatch_queue.h"
#include "platform/speech_audio_converter.h"
#include "platform/speech_recognizer.h"

namespace morvane {

class Defaults;
class VoiceMicrophone;

/// What a `VoiceTrigger` reaches outside itself; each empty field takes the application's own.
struct VoiceTriggerEnvironment {
    Defaults* defaults = nullptr;
    std::shared_ptr<Executor> mainQueue;
    /// A recogniser for a locale identifier such as "en-US", or none.
    std::function<std::shared_ptr<SpeechRecognizer>(const std::string&)> makeRecognizer;
    /// The user's locale as an identifier ("de-CH").
    std::function<std::string()> currentLocale;
    /// A monotonic clock in seconds.
    std::function<double()> now;
};

/// The remote's four spoken words: shutter, start, stop and marker. Listens to the microphone (or to audio
/// handed in), recognises on the device only, and calls one callback per word heard.
///
/// The words come from the settings when the trigger is made ("voiceKeyword" default "pemble",
/// "recordKeyword" "action", "stopKeyword" "cut", "markKeyword" "mark"). The first word that a transcript
/// contains, in the order shutter, start, stop, marker, fires; recognition then starts afresh, and callbacks
/// less than 1.5 s after the previous one are swallowed. Microphone audio arrives on the queue
/// "morvane.voice-mic"; everything else, callbacks included, runs on the main thread.
///
/// Made through `make`; the owner stops it before letting it go.
class VoiceTrigger : public std::enable_shared_from_this<VoiceTrigger> {
public:
    enum class Source {
        captureSamples,  ///< the owner hands audio in through `appendAudio`
        microphone,      ///< the trigger opens the default audio input itself
    };

    using Environment = VoiceTriggerEnvironment;

    static constexpr const char* shutterKey = "voiceKeyword";
    static constexpr const char* recordKey = "recordKeyword";
    static constexpr const char* stopKey = "stopKeyword";
    static constexpr const char* markKey = "markKeyword";

    static std::shared_ptr<VoiceTrigger> make(Environment environment = {});
    ~VoiceTrigger();
    VoiceTrigger(const VoiceTrigger&) = delete;
    VoiceTrigger& operator=(const VoiceTrigger&) = delete;

    // Callbacks, set by the owner before `start`; called on the main thread.
    std::function<void()> onTrigger;
    std::function<void()> onMark;
    std::function<void()> onRecord;
    std::function<void()> onStop;
    /// The last words heard (at most five).
    std::function<void(const std::string&)> onHeard;
    /// A problem, as a message for the user.
    std::function<void(const std::string&)> onIssue;

    /// The words matched, normalised when the trigger was made.
    const std::string& keyword() const { return keyword_; }
    const std::string& markKeyword() const { return markKeyword_; }
    const std::string& recordKeyword() const { return recordKeyword_; }
    const std::string& stopKeyword() const { return stopKeyword_; }

    /// Starts listening; false (the reason given to `onIssue`) when there is no usable recogniser or the
    /// microphone cannot be opened. Main thread.
    bool start(Source source);
    /// Stops listening; safe when not running. Main thread.
    void stop();
    bool isRunning() const { return running_; }

    /// Audio for the running recognition, from any thread (the microphone's queue, or the owner's for
    /// `captureSamples`). Interleaved samples of any common format; converted to what the recogniser hears.
    void appendAudio(std::span<const std::byte> bytes, const SpeechAudioConverter::Format& format);

    /// A recognition result or error of the recognition numbered `generation`; older ones are ignored.
    /// Main thread.
    void handleResult(std::optional<SpeechRecognizer::Result> result, std::optional<SpeechRecognizer::Error> error,
                      std::uint64_t generation);
    /// The number of the current recognition. Main thread.
    std::uint64_t generation() const { return generation_; }

    // Shared helpers of the voice words.

    /// Folds case and diacritics, splits at everything that is not a letter or digit, joins with single
    /// spaces.
    static std::string normaliseSpeech(std::string_view text);
    /// Whether the heard text contains the stored word as whole words (both normalised here).
    static bool matches(std::string_view word, std::string_view heard);

    /// Asks for what voice words need. Nothing on this platform asks the user: the completion gets true, on
    /// the main queue.
    static void requestPermissions(bool needsMicrophone, std::function<void(bool)> completion,
                                   std::shared_ptr<Executor> mainQueue = nullptr);

    /// The recogniser that voice words would use: the current locale's when it works on the device, else
    /// US English's, else none.
    static std::shared_ptr<SpeechRecognizer> recognizerLocale(const Environment& environment = {});
    /// The name of the language voice words are recognised in, in the user's language; none when there is no
    /// on-device recogniser.
    static std::optional<std::string> supportedLanguageName(const Environment& environment = {});
    /// The same as `supportedLanguageName`.
    static std::optional<std::string> isSupported(const Environment& environment = {});

    /// The settings screen's storing rule: keeps letters, spaces and apostrophes, at most 30 characters,
    /// trimmed; an empty result removes the key so that its default applies.
    static void saveShutterWord(std::string_view text, Defaults* defaults = nullptr);
    static void saveWord(std::string_view text, const std::string& key, Defaults* defaults = nullptr);
    /// The same as `saveShutterWord` and `saveWord`.
    static void quotedKeyword(std::string_view text, Defaults* defaults = nullptr);
    static void quotedKeywords(std::string_view text, const std::string& key, Defaults* defaults = nullptr);
    /// The cleaned form that `saveWord` stores (empty when it removes the key).
    static std::string cleanedWord(std::string_view text);

    /// A stored word as typed, or its default when absent.
    static std::string storedWord(const std::string& key, Defaults* defaults = nullptr);
    /// The messages the controller shows for voice words: "Listening for: pemble · action · cut · mark" and
    /// "Heard “action”" (stored words as typed).
    static std::string listeningMessage(Defaults* defaults = nullptr);
    static std::string heardMessage(const std::string& key, Defaults* defaults = nullptr);

    static constexpr const char* offlineModelMessage =
        "Voice shutter needs the offline speech model: install the pocketsphinx-en-us package";
    static constexpr const char* microphoneMessage =
        "Couldn't start the microphone: check that one is plugged in and not muted, and that the sound server "
        "(PipeWire or PulseAudio) is running";
    static constexpr const char* dictationMessage =
        "Voice stopped: the speech model isn't available. Install the pocketsphinx-en-us package, then try again.";

private:
    explicit VoiceTrigger(Environment environment);

    void startRecognition();
    void fire(const std::function<void()>& callback);
    void scheduleRearm(double seconds, std::uint64_t generation);
    static bool isDictationError(const SpeechRecognizer::Error& error);

    Environment env_;
    std::string keyword_;
    std::string markKeyword_;
    std::string recordKeyword_;
    std::string stopKeyword_;
    std::shared_ptr<SpeechRecognizer> recognizer_;
    std::shared_ptr<SpeechRecognizer::Task> task_;
    std::uint64_t generation_ = 0;
    bool running_ = false;
    std::unique_ptr<VoiceMicrophone> mic_;
    std::optional<double> lastTrigger_;  // none: never

    // `lock` guards the request and the conversion of the audio handed to it.
    std::mutex lock_;
    std::shared_ptr<SpeechRecognizer::Request> request_;
    std::optional<SpeechAudioConverter> converter_;
};

}  // namespace morvane
