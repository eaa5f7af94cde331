#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace morvane {

/// On-device recognition of a few phrases in streamed audio, with pocketsphinx's keyword spotting and its
/// US-English model; nothing leaves the machine.
///
/// A recognition runs from `recognitionTask` until its request's audio ends, it is cancelled, or it has heard
/// `maxTaskSeconds` of audio. Its transcript is every phrase spotted since it began, in order, separated by
/// spaces; each change is reported as a partial result, the end as a final one.
///
/// Phrases count only when said as a command: on their own, with a pause before and after and no more speech
/// in between than the phrase takes. Short words hide inside running speech ("look at" sounds much like "cut"),
/// and on a set people talk; a spoken command stands apart. Words of the phrases that the
/// model's dictionary lacks are pronounced through `GraphemeToPhoneme`.
///
/// Results and errors reach the task's handler on the recogniser's own serial queue.
class SpeechRecognizer {
public:
    struct Result {
        std::string transcript;
        bool isFinal = false;
        friend bool operator==(const Result&, const Result&) = default;
    };

    struct Error {
        enum Code : int {
            modelUnavailable = 1,  ///< the model could not be loaded
            decodingFailed = 2,    ///< the decoder refused the audio or the phrases
        };
        int code = 0;
        std::string description;
    };

    using ResultHandler = std::function<void(std::optional<Result>, std::optional<Error>)>;

    struct Options {
        /// Folder holding the "en-us" model folder and its dictionary.
        std::string modelDirectory;
        /// Longest stretch of audio one recognition takes before it ends with a final result.
        double maxTaskSeconds = 60.0;
        /// The spotting threshold for a phrase of so many phones; `thresholdForPhones` when empty.
        std::function<double(int)> threshold;
    };

    class Engine;

    /// Audio for one recognition: the phrases to listen for, then 16 kHz mono samples from any thread.
    class Request {
    public:
        explicit Request(std::vector<std::string> contextualStrings);
        ~Request();

        const std::vector<std::string>& contextualStrings() const { return contextualStrings_; }

        /// Samples at 16 kHz, mono. Audio that arrives before the request has a task waits for it (up to a
        /// few seconds' worth).
        void append(std::span<const std::int16_t> samples);
        /// No more audio: the recognition ends with a final result.
        void endAudio();

    private:
        friend class SpeechRecognizer;
        void attach(std::shared_ptr<Engine> engine, std::uint64_t task);

        std::vector<std::string> contextualStrings_;
        std::mutex mutex_;
        std::shared_ptr<Engine> engine_;
        std::uint64_t task_ = 0;
        std::vector<std::int16_t> early_;
        bool ended_ = false;
    };

    /// One running recognition.
    class Task {
    public:
        /// Ends the recognition; its handler is called no more.
        void cancel();
        bool isCancelled() const { return cancelled_->load(); }

    private:
        friend class SpeechRecognizer;
        std::shared_ptr<Engine> engine_;
        std::uint64_t id_ = 0;
        std::shared_ptr<std::atomic<bool>> cancelled_ = std::make_shared<std::atomic<bool>>(false);
    };

    /// A recogniser for a locale ("en-US", any case, "-" or "_"), or none when there is no model for it.
    static std::shared_ptr<SpeechRecognizer> make(const std::string& localeIdentifier, Options options);
    static std::shared_ptr<SpeechRecognizer> make(const std::string& localeIdentifier);
    ~SpeechRecognizer();

    /// The locale recognised, as "en-US".
    const std::string& locale() const { return locale_; }
    /// Recognition works without a network.
    bool supportsOnDeviceRecognition() const { return true; }
    /// The model's files are present and, once loaded, loaded cleanly.
    bool isAvailable() const;

    /// Starts recognising the request's audio. The handler gets each changed transcript and then a final one,
    /// or an error, on the recogniser's queue.
    std::shared_ptr<Task> recognitionTask(const std::shared_ptr<Request>& request, ResultHandler handler);

    /// The keyword threshold for a phrase of this many phones.
    static double thresholdForPhones(int phones);

private:
    SpeechRecognizer(std::string locale, std::shared_ptr<Engine> engine);

    std::string locale_;
    std::shared_ptr<Engine> engine_;
};

}  // namespace morvane
