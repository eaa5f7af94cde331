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

/// On-device recognition of streamed speech with pocketsphinx's US-English acoustic model and its general
/// language model; nothing leaves the machine.
///
/// A recognition runs from `recognitionTask` until its request's audio ends, it is cancelled, or it has heard
/// `maxTaskSeconds` of audio. Speech is cut at its pauses and decoded as it comes with the general model, so that
/// the request's phrases are heard in running speech as well as on their own. Their words get a share of the
/// language model's probability, and words the model's dictionary lacks are pronounced through
/// `GraphemeToPhoneme`. At a pause, a phrase word is kept in the transcript only when the decoder is sure of it
/// (its posterior probability); other words are kept as decoded. The transcript is every stretch heard since the
/// recognition began, separated by spaces; each stretch is reported as a partial result, the end as a final one.
/// A phrase word that stands in the decoder's running guess for a while is reported at once, without waiting
/// for the pause, in a partial result holding the guess up to the word: a long one as it stands
/// (`Options::earlyChecks`), a short one (under four phones) once a second decode of the audio around it is sure
/// of it (`Options::confirmChecks`).
///
/// Silence is not decoded, so listening costs little while nobody speaks. Several recognisers may start and run
/// at once: what the library keeps for the whole process is only touched under one lock.
///
/// Results and errors reach the task's handler on the recogniser's own serial queue.
class SpeechRecognizer {
public:
    /// A word the decoder heard, with its posterior probability (0 to 1).
    struct HeardWord {
        std::string word;
        double confidence = 0;
        friend bool operator==(const HeardWord&, const HeardWord&) = default;
    };

    struct Result {
        std::string transcript;
        bool isFinal = false;
        /// Every word decoded so far, those left out of the transcript included.
        std::vector<HeardWord> words;
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
        /// Folder holding the "en-us" model folder, its dictionary and its language model.
        std::string modelDirectory;
        /// Longest stretch of audio one recognition takes before it ends with a final result.
        double maxTaskSeconds = 60.0;
        /// Share of the language model given to the phrases' words, spread evenly over them (0 to 0.5).
        double phraseWeight = defaultPhraseWeight;
        /// Least posterior probability at which a phrase word of five or more phones counts as heard (0 to 1);
        /// shorter words need more (`neededConfidence`).
        double minConfidence = defaultMinConfidence;
        /// A phrase word that stands this many checks in a row (50 ms apart) in the decoder's running guess,
        /// and ended at least 0.1 s before where the decoder is, is reported before its stretch of speech ends;
        /// 0: phrase words are reported only when the speech pauses.
        int earlyChecks = defaultEarlyChecks;
        /// A phrase word under four phones that stands this many checks in the running guess is decoded
        /// again, with the audio from a little before it to where the decoder is, and reported before the
        /// pause when that decode gives it at least `confirmConfidence` (more for shorter words, as
        /// `neededConfidence`); 0: only long words are reported before the pause (`earlyChecks`).
        int confirmChecks = defaultConfirmChecks;
        double confirmConfidence = defaultConfirmConfidence;
    };

    /// Chosen with the voice-word benchmark (bench_voice_words).
    static constexpr double defaultPhraseWeight = 0.1;
    static constexpr double defaultMinConfidence = 0.9;
    static constexpr int defaultEarlyChecks = 4;
    static constexpr int defaultConfirmChecks = 2;
    static constexpr double defaultConfirmConfidence = 0.9;

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

    /// The posterior probability a phrase word of this many phones needs to count as heard. Short words hide
    /// in running speech ("cut" in "cup of", "cutting"): below five phones they need more.
    static double neededConfidence(int phones, double minConfidence);

    /// The locale recognised, as "en-US".
    const std::string& locale() const { return locale_; }
    /// Recognition works without a network.
    bool supportsOnDeviceRecognition() const { return true; }
    /// The model's files are present and, once loaded, loaded cleanly.
    bool isAvailable() const;

    /// Starts recognising the request's audio. The handler gets each changed transcript and then a final one,
    /// or an error, on the recogniser's queue.
    std::shared_ptr<Task> recognitionTask(const std::shared_ptr<Request>& request, ResultHandler handler);

private:
    SpeechRecognizer(std::string locale, std::shared_ptr<Engine> engine);

    std::string locale_;
    std::shared_ptr<Engine> engine_;
};

}  // namespace morvane
