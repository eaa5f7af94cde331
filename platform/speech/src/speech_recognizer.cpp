#include "platform/speech_recognizer.h"

#include <pocketsphinx.h>
#include <sphinxbase/ckd_alloc.h>
#include <sphinxbase/cmn.h>
#include <sphinxbase/feat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include "platform/dispatch_queue.h"
#include "platform/grapheme_to_phoneme.h"

namespace morvane {

namespace {

constexpr int sampleRate = 16000;
// Audio waiting for a task that has not started yet, and audio waiting on the queue: beyond these the oldest
// is not kept (a recogniser that cannot keep up drops audio rather than memory).
constexpr std::size_t maxEarlySamples = sampleRate * 5;
constexpr std::size_t maxBacklogSamples = sampleRate * 20;
// Phone-loop probability of the keyword search: how readily the decoder explains sound as "anything else".
constexpr const char* phoneLoopProbability = "1e-1";
constexpr std::size_t frameSamples = sampleRate / 100;
// A pause: this many frames in a row no louder than the noise floor plus `pauseMargin` decibels.
constexpr int pauseFrames = 15;
constexpr double pauseMargin = 12.0;
// How fast the noise floor may rise, in decibels per frame (it falls at once).
constexpr double floorRise = 0.02;
// How long after a phrase the decision waits for the pause that closes it.
constexpr long maxWaitFrames = 60;
// How far the decoder's edges of a phrase may miss the edges of its sound, and how much other speech may stand
// between the phrase and the pauses around it.
constexpr long pauseSlack = 8;
constexpr long maxLeadingFrames = 30;
constexpr long maxTrailingFrames = 30;
// The keyword search shows a phrase this many frames after its end (its default delay).
constexpr long decoderDelayFrames = 10;

std::string normalisedLocale(std::string id) {
    for (auto& c : id) {
        if (c == '_') c = '-';
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return id;
}

/// A phrase as the decoder spells its words: lower-case letters and apostrophes, single spaces.
std::vector<std::string> phraseWords(const std::string& phrase) {
    std::vector<std::string> words;
    std::string word;
    for (unsigned char c : phrase) {
        if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c - 'A' + 'a');
        if ((c >= 'a' && c <= 'z') || c == '\'' || c >= 0x80) {
            word += static_cast<char>(c);
        } else if (!word.empty()) {
            words.push_back(std::move(word));
            word.clear();
        }
    }
    if (!word.empty()) words.push_back(std::move(word));
    // A word of apostrophes alone has nothing to say.
    std::erase_if(words, [](const std::string& w) { return w.find_first_not_of('\'') == std::string::npos; });
    return words;
}

int countPhones(const std::string& phones) {
    std::istringstream in(phones);
    int n = 0;
    std::string p;
    while (in >> p) ++n;
    return n;
}

}  // namespace

class SpeechRecognizer::Engine : public std::enable_shared_from_this<Engine> {
public:
    explicit Engine(Options options) : options_(std::move(options)) {}

    ~Engine() {
        if (ps_) ps_free(ps_);
        if (config_) cmd_ln_free_r(config_);
    }

    bool failed() const { return failed_.load(); }
    std::uint64_t nextTaskId() { return ++lastTaskId_; }

    void start(std::uint64_t id, std::vector<std::string> phrases, ResultHandler handler,
               std::shared_ptr<std::atomic<bool>> cancelled) {
        queue_.async([self = shared_from_this(), id, phrases = std::move(phrases), handler = std::move(handler),
                      cancelled = std::move(cancelled)]() mutable {
            self->startOnQueue(id, std::move(phrases), std::move(handler), std::move(cancelled));
        });
    }

    void append(std::uint64_t id, std::vector<std::int16_t> samples) {
        const std::size_t n = samples.size();
        if (backlog_.fetch_add(n) + n > maxBacklogSamples) {
            backlog_.fetch_sub(n);
            return;
        }
        queue_.async([self = shared_from_this(), id, samples = std::move(samples)] {
            self->backlog_.fetch_sub(samples.size());
            self->audioOnQueue(id, samples);
        });
    }

    void end(std::uint64_t id) {
        queue_.async([self = shared_from_this(), id] { self->finish(id, true); });
    }

    void cancel(std::uint64_t id) {
        queue_.async([self = shared_from_this(), id] { self->finish(id, false); });
    }

private:
    struct Spotted {
        std::string phrase;
        long decoderStart = 0;  // the decoder's frame numbers
        long decoderEnd = 0;
        long startFrame = 0;  // frames of this recognition
        long endFrame = 0;
        int score = 0;  // how far the phrase beat the rest of the sound, in the decoder's log units

        double fitPerFrame() const {
            return static_cast<double>(score) / static_cast<double>(decoderEnd - decoderStart + 1);
        }
    };

    /// The stretch of speech, between two pauses, that a phrase was said in.
    struct Stretch {
        long start = 0;
        long stop = 0;
        friend bool operator==(const Stretch&, const Stretch&) = default;
    };

    struct Running {
        std::uint64_t id = 0;
        ResultHandler handler;
        std::shared_ptr<std::atomic<bool>> cancelled;
        bool listening = false;  // false when there is no phrase to listen for
        std::string transcript;  // the phrases accepted so far
        std::size_t samples = 0;
        std::vector<Spotted> seen;  // every phrase spotted, decided or not
        std::vector<Spotted> undecided;
        std::vector<Stretch> used;  // stretches that gave a phrase already
        std::vector<float> energy;  // decibels per frame since the recognition began
        std::vector<std::int16_t> carry;
    };

    bool load() {
        if (ps_) return true;
        if (failed_) return false;
        const std::string model = options_.modelDirectory + "/en-us/en-us";
        const std::string dict = options_.modelDirectory + "/en-us/cmudict-en-us.dict";
        config_ = cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", model.c_str(), "-dict", dict.c_str(), "-keyphrase",
                              "mark", "-kws_plp", phoneLoopProbability, "-dither", "no", "-cmn", "live", "-logfn",
                              "/dev/null", nullptr);
        if (config_) ps_ = ps_init(config_);
        if (!ps_) {
            failed_ = true;
            return false;
        }
        if (feat_t* feat = ps_get_feat(ps_); feat && feat->cmn_struct) {
            initialCmn_.resize(static_cast<std::size_t>(feat->cmn_struct->veclen));
            cmn_live_get(feat->cmn_struct, initialCmn_.data());
        }
        return true;
    }

    /// Sets up the keyword search for the phrases; false when none of them can be listened for.
    bool configure(const std::vector<std::string>& phrases) {
        std::vector<std::string> lines;
        std::map<std::string, int> newPhones;
        for (const auto& phrase : phrases) {
            const auto words = phraseWords(phrase);
            if (words.empty()) continue;
            int phones = 0;
            bool known = true;
            for (const auto& word : words) {
                char* found = ps_lookup_word(ps_, word.c_str());
                if (found) {
                    phones += countPhones(found);
                    ckd_free(found);
                    continue;
                }
                auto pronunciation = GraphemeToPhoneme::pronounce(word);
                if (!pronunciation || ps_add_word(ps_, word.c_str(), pronunciation->c_str(), TRUE) < 0) {
                    known = false;
                    break;
                }
                phones += countPhones(*pronunciation);
            }
            if (!known) continue;
            std::string text;
            for (const auto& word : words) text += (text.empty() ? "" : " ") + word;
            char threshold[64];
            std::snprintf(threshold, sizeof threshold, "%g",
                          options_.threshold ? options_.threshold(phones) : thresholdForPhones(phones));
            newPhones[text] = phones;
            std::string line = text + " /" + threshold + "/";
            if (std::find(lines.begin(), lines.end(), line) == lines.end()) lines.push_back(std::move(line));
        }
        if (lines.empty()) return false;
        if (lines == configured_) return true;

        std::string path = (std::filesystem::temp_directory_path() / "morvane-keywords-XXXXXX").string();
        const int fd = mkstemp(path.data());
        if (fd < 0) return false;
        {
            std::string body;
            for (const auto& line : lines) body += line + "\n";
            const bool written = ::write(fd, body.data(), body.size()) == static_cast<ssize_t>(body.size());
            ::close(fd);
            if (!written) {
                std::filesystem::remove(path);
                return false;
            }
        }
        const bool set = ps_set_kws(ps_, "words", path.c_str()) >= 0 && ps_set_search(ps_, "words") >= 0;
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
        configured_ = set ? lines : std::vector<std::string>{};
        if (set) phonesOf_ = std::move(newPhones);
        return set;
    }

    void startOnQueue(std::uint64_t id, std::vector<std::string> phrases, ResultHandler handler,
                      std::shared_ptr<std::atomic<bool>> cancelled) {
        stopCurrent();
        if (cancelled->load()) return;
        if (!load()) {
            if (handler) handler(std::nullopt, Error{Error::modelUnavailable, "The speech model could not be loaded"});
            return;
        }
        Running run{id, std::move(handler), std::move(cancelled)};
        run.listening = configure(phrases);
        resetForRecognition();
        if (run.listening && ps_start_utt(ps_) < 0) {
            if (run.handler) run.handler(std::nullopt, Error{Error::decodingFailed, "Recognition could not start"});
            return;
        }
        current_ = std::move(run);
    }

    void audioOnQueue(std::uint64_t id, const std::vector<std::int16_t>& samples) {
        if (!current_ || current_->id != id) return;
        if (current_->cancelled->load()) {
            stopCurrent();
            return;
        }
        auto& run = *current_;
        run.samples += samples.size();
        if (run.listening) {
            run.carry.insert(run.carry.end(), samples.begin(), samples.end());
            std::size_t used = 0;
            // Frame by frame, so that each spotted phrase is placed in time to within a frame.
            while (current_ && run.carry.size() - used >= frameSamples) {
                const std::int16_t* frame = run.carry.data() + used;
                used += frameSamples;
                if (!processFrame(run, frame)) return;
            }
            if (!current_) return;
            run.carry.erase(run.carry.begin(), run.carry.begin() + static_cast<std::ptrdiff_t>(used));
        }
        if (current_ && static_cast<double>(current_->samples) >= options_.maxTaskSeconds * sampleRate) {
            finish(id, true);
        }
    }

    /// Feeds one frame; false when the recognition ended with an error.
    bool processFrame(Running& run, const std::int16_t* frame) {
        // Dithered here rather than by the decoder, whose random numbers are shared by every decoder in the
        // process: a recognition's result then depends on its audio alone.
        std::array<std::int16_t, frameSamples> dithered;
        for (std::size_t i = 0; i < frameSamples; ++i) {
            dithered[i] = frame[i] < 32767 && dither_() % 4 == 0 ? static_cast<std::int16_t>(frame[i] + 1) : frame[i];
        }
        if (ps_process_raw(ps_, dithered.data(), frameSamples, FALSE, FALSE) < 0) {
            auto handler = std::move(run.handler);
            stopCurrent();
            if (handler) handler(std::nullopt, Error{Error::decodingFailed, "Recognition failed"});
            return false;
        }
        double sum = 0;
        for (std::size_t i = 0; i < frameSamples; ++i) sum += static_cast<double>(frame[i]) * frame[i];
        const auto level = static_cast<float>(10.0 * std::log10(sum / frameSamples + 1.0));
        noiseFloor_ = heardAny_ ? std::min(noiseFloor_ + floorRise, static_cast<double>(level)) : level;
        heardAny_ = true;
        run.energy.push_back(level);
        const long now = static_cast<long>(run.energy.size());

        // Every phrase spotted so far in this utterance. The decoder's own frame numbers are only good for
        // telling its phrases apart; a phrase is placed in time by when it first shows, which is the decoder's
        // fixed delay after its end.
        for (ps_seg_t* seg = ps_seg_iter(ps_); seg; seg = ps_seg_next(seg)) {
            int first = 0, last = 0;
            ps_seg_frames(seg, &first, &last);
            int acoustic = 0, language = 0, backoff = 0;
            const int score = ps_seg_prob(seg, &acoustic, &language, &backoff);
            std::string phrase = trimmed(ps_seg_word(seg));
            if (phrase.empty() || last < first) continue;
            const bool known = std::any_of(run.seen.begin(), run.seen.end(), [&](const Spotted& s) {
                return s.phrase == phrase && s.decoderStart <= last && first <= s.decoderEnd;
            });
            if (known) continue;
            const long end = now - decoderDelayFrames;
            Spotted spotted{std::move(phrase), first, last, end - (last - first), end, score};
            run.seen.push_back(spotted);
            run.undecided.push_back(std::move(spotted));
        }
        // Each stretch of speech gives at most one phrase: the best spotted in it.
        std::vector<std::pair<Spotted, Stretch>> decided;
        for (auto it = run.undecided.begin(); it != run.undecided.end();) {
            const auto verdict = standsAlone(run, *it, now);
            if (!verdict) {
                ++it;
                continue;
            }
            if (*verdict) decided.emplace_back(*it, **verdict);
            it = run.undecided.erase(it);
        }
        bool changed = false;
        // Of the phrases spotted in one stretch, the one said is taken to be the one the sound fits best per
        // frame; a short word found inside a longer one fits it worse.
        std::sort(decided.begin(), decided.end(),
                  [](const auto& a, const auto& b) { return a.first.fitPerFrame() > b.first.fitPerFrame(); });
        for (const auto& [spotted, stretch] : decided) {
            const bool taken = std::any_of(run.used.begin(), run.used.end(), [&](const Stretch& u) {
                return u.start <= stretch.stop && stretch.start <= u.stop;
            });
            if (taken) continue;
            run.used.push_back(stretch);
            run.transcript += (run.transcript.empty() ? "" : " ") + spotted.phrase;
            changed = true;
        }
        if (changed && run.handler) run.handler(Result{run.transcript, false}, std::nullopt);
        return true;
    }

    /// The stretch a spotted phrase was said in when it was said on its own, with a pause before and after and
    /// no more speech between them than the phrase can take; a null stretch when it was not; none while the
    /// closing pause may still come.
    std::optional<std::optional<Stretch>> standsAlone(const Running& run, const Spotted& spotted, long now) const {
        const auto quiet = [&](long f) { return run.energy[static_cast<std::size_t>(f)] <= noiseFloor_ + pauseMargin; };
        const long begin = std::clamp(spotted.startFrame, 0L, now - 1);
        const long end = std::clamp(spotted.endFrame, begin, now - 1);
        // The pause that closes the phrase.
        long stop = -1;
        int quietRun = 0;
        for (long f = std::max(begin, end - pauseSlack); f < now; ++f) {
            quietRun = quiet(f) ? quietRun + 1 : 0;
            if (quietRun >= pauseFrames) {
                stop = f - pauseFrames + 1;
                break;
            }
        }
        const std::optional<Stretch> rejected;
        if (stop < 0) {
            if (now - end > maxWaitFrames) return rejected;
            return std::nullopt;
        }
        if (stop > end + pauseSlack + 1 + maxTrailingFrames) return rejected;
        // The pause before it; the start of the recognition counts as one.
        long start = 0;
        quietRun = 0;
        for (long f = std::min(end, begin + pauseSlack); f >= 0; --f) {
            quietRun = quiet(f) ? quietRun + 1 : 0;
            if (quietRun >= pauseFrames) {
                start = f + pauseFrames;
                break;
            }
        }
        if (start < begin - pauseSlack - maxLeadingFrames) return rejected;
        // Something must have been said between the pauses: the decoder finds phrases in silence too.
        bool spoken = false;
        for (long f = std::max(start, 0L); f < stop && !spoken; ++f) spoken = !quiet(f);
        if (!spoken) return rejected;
        const auto phones = phonesOf_.find(spotted.phrase);
        const long limit = maxSpeechFrames(phones == phonesOf_.end() ? 10 : phones->second);
        if (stop - start > limit) return rejected;
        return std::optional<Stretch>(Stretch{start, stop});
    }

    /// The longest stretch of speech that a phrase of this many phones can fill.
    static long maxSpeechFrames(int phones) { return 25 + 12L * phones; }

    void finish(std::uint64_t id, bool report) {
        if (!current_ || current_->id != id) return;
        if (current_->listening) endUtterance();
        const std::string transcript = current_->transcript;
        auto handler = std::move(current_->handler);
        const bool cancelled = current_->cancelled->load();
        current_.reset();
        if (report && !cancelled && handler) handler(Result{transcript, true}, std::nullopt);
    }

    void endUtterance() { ps_end_utt(ps_); }

    /// Each recognition starts from the same state, whatever an earlier one (cut short at whatever frame its
    /// cancellation arrived) left behind: the front end's noise estimate, the decoder's running cepstral mean,
    /// the dither and the noise floor.
    void resetForRecognition() {
        ps_start_stream(ps_);
        if (feat_t* feat = ps_get_feat(ps_); feat && feat->cmn_struct && !initialCmn_.empty()) {
            cmn_live_set(feat->cmn_struct, initialCmn_.data());
        }
        dither_.seed(1);
        noiseFloor_ = 0;
        heardAny_ = false;
    }

    void stopCurrent() {
        if (!current_) return;
        if (current_->listening) endUtterance();
        current_.reset();
    }

    static std::string trimmed(const char* word) {
        std::string w = word ? word : "";
        while (!w.empty() && w.back() == ' ') w.pop_back();
        while (!w.empty() && w.front() == ' ') w.erase(w.begin());
        return w;
    }

    Options options_;
    std::atomic<bool> failed_{false};
    std::atomic<std::uint64_t> lastTaskId_{0};
    std::atomic<std::size_t> backlog_{0};
    // Queue only.
    ps_decoder_t* ps_ = nullptr;
    cmd_ln_t* config_ = nullptr;
    std::vector<std::string> configured_;
    std::map<std::string, int> phonesOf_;  // phones of each configured phrase
    std::vector<mfcc_t> initialCmn_;       // the running cepstral mean as the model sets it
    std::minstd_rand dither_{1};
    double noiseFloor_ = 0;
    bool heardAny_ = false;
    std::optional<Running> current_;
    // Last, so that it goes first: no work runs once the decoder is being freed.
    DispatchQueue queue_{"morvane.speech"};
};

// Request.

SpeechRecognizer::Request::Request(std::vector<std::string> contextualStrings)
    : contextualStrings_(std::move(contextualStrings)) {}

SpeechRecognizer::Request::~Request() = default;

void SpeechRecognizer::Request::append(std::span<const std::int16_t> samples) {
    if (samples.empty()) return;
    std::lock_guard guard(mutex_);
    if (ended_) return;
    if (engine_) {
        engine_->append(task_, std::vector<std::int16_t>(samples.begin(), samples.end()));
        return;
    }
    early_.insert(early_.end(), samples.begin(), samples.end());
    if (early_.size() > maxEarlySamples) {
        early_.erase(early_.begin(), early_.begin() + static_cast<std::ptrdiff_t>(early_.size() - maxEarlySamples));
    }
}

void SpeechRecognizer::Request::endAudio() {
    std::lock_guard guard(mutex_);
    if (ended_) return;
    ended_ = true;
    if (engine_) engine_->end(task_);
}

void SpeechRecognizer::Request::attach(std::shared_ptr<Engine> engine, std::uint64_t task) {
    std::lock_guard guard(mutex_);
    engine_ = std::move(engine);
    task_ = task;
    if (!early_.empty()) {
        engine_->append(task_, std::move(early_));
        early_.clear();
    }
    if (ended_) engine_->end(task_);
}

// Task.

void SpeechRecognizer::Task::cancel() {
    if (cancelled_->exchange(true)) return;
    if (engine_) engine_->cancel(id_);
}

// Recognizer.

SpeechRecognizer::SpeechRecognizer(std::string locale, std::shared_ptr<Engine> engine)
    : locale_(std::move(locale)), engine_(std::move(engine)) {}

SpeechRecognizer::~SpeechRecognizer() = default;

std::shared_ptr<SpeechRecognizer> SpeechRecognizer::make(const std::string& localeIdentifier, Options options) {
    if (normalisedLocale(localeIdentifier) != "en-us") return nullptr;
    if (options.modelDirectory.empty()) options.modelDirectory = MORVANE_POCKETSPHINX_MODELDIR;
    std::error_code error;
    const std::filesystem::path dir(options.modelDirectory);
    if (!std::filesystem::is_regular_file(dir / "en-us" / "en-us" / "mdef", error) ||
        !std::filesystem::is_regular_file(dir / "en-us" / "cmudict-en-us.dict", error)) {
        return nullptr;
    }
    if (!(options.maxTaskSeconds > 0)) options.maxTaskSeconds = 60.0;
    auto engine = std::make_shared<Engine>(std::move(options));
    return std::shared_ptr<SpeechRecognizer>(new SpeechRecognizer("en-US", std::move(engine)));
}

std::shared_ptr<SpeechRecognizer> SpeechRecognizer::make(const std::string& localeIdentifier) {
    return make(localeIdentifier, Options{});
}

bool SpeechRecognizer::isAvailable() const {
    return !engine_->failed();
}

std::shared_ptr<SpeechRecognizer::Task> SpeechRecognizer::recognitionTask(const std::shared_ptr<Request>& request,
                                                                          ResultHandler handler) {
    auto task = std::shared_ptr<Task>(new Task());
    task->engine_ = engine_;
    task->id_ = engine_->nextTaskId();
    engine_->start(task->id_, request ? request->contextualStrings() : std::vector<std::string>{}, std::move(handler),
                   task->cancelled_);
    if (request) request->attach(engine_, task->id_);
    return task;
}

double SpeechRecognizer::thresholdForPhones(int phones) {
    // Nine decades per phone, measured with the voice-word benchmark: longer phrases score lower, and a lower
    // threshold finds more spoken words while the pause rule keeps running speech out.
    const int n = std::clamp(phones, 1, 30);
    return std::pow(10.0, -9.0 * n);
}

}  // namespace morvane
