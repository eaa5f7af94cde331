#include "platform/speech_recognizer.h"

#include <pocketsphinx.h>
#include <sphinxbase/ckd_alloc.h>
#include <sphinxbase/cmn.h>
#include <sphinxbase/err.h>
#include <sphinxbase/feat.h>
#include <sphinxbase/ngram_model.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include "platform/dispatch_queue.h"
#include "platform/grapheme_to_phoneme.h"
#include "speech_detector.h"

namespace morvane {

namespace {

constexpr int sampleRate = 16000;
// Audio waiting for a task that has not started yet, and audio waiting on the queue: beyond these the oldest
// is not kept (a recogniser that cannot keep up drops audio rather than memory).
constexpr std::size_t maxEarlySamples = sampleRate * 5;
constexpr std::size_t maxBacklogSamples = sampleRate * 20;
constexpr std::size_t frameSamples = sampleRate / 100;
// A stretch of speech starts with the frames just before the first one of speech (a word's soft start) and ends
// after this many quiet frames in a row.
constexpr std::size_t leadFrames = 25;
constexpr int closingQuietFrames = 30;
// A stretch longer than this is decoded in pieces, so that a word said during endless talk is not held back.
constexpr long maxStretchFrames = 1000;
// How often the decoder's running guess is looked at, and how far behind where it is a word must have ended to
// be reported early (in frames).
constexpr int checkFrames = 5;
constexpr int settleFrames = 10;
// A running guess is not sure enough of shorter words (the decoder slips "cut" into all kinds of talk): their
// posterior probability is first found by decoding the audio around them again, from this far before the word
// to where the decoder is (in frames).
constexpr int earlyPhones = 5;
constexpr int confirmLead = 40;
// Only words under this many phones are decoded again: "mark" hides in "marker", "end board" and the like as
// surely in the second decode as in the first, so it waits for the pause; longer words are reported as they stand.
constexpr int confirmPhones = 4;
constexpr int confirmTries = 2;
constexpr int retryChecks = 4;

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

/// The library keeps its log file, and more, for the whole process: two decoders made at the same moment
/// could close one log file twice. Making and freeing models happens under this lock, with logging switched
/// off once for everybody.
std::mutex& libraryMutex() {
    static std::mutex mutex;
    return mutex;
}

void quietenLibrary() {
    static std::once_flag once;
    std::call_once(once, [] { err_set_logfp(nullptr); });
}

int countPhones(const std::string& phones) {
    std::istringstream in(phones);
    int n = 0;
    for (std::string p; in >> p;) ++n;
    return n;
}

/// A decoder word as it is written in a transcript: no alternative-pronunciation mark ("the(2)"), and nothing
/// for silence, fillers and sentence marks.
std::string spokenWord(const char* word) {
    std::string w = word ? word : "";
    if (w.empty() || w.front() == '<' || w.front() == '[' || w.front() == '+') return {};
    if (const auto paren = w.find('('); paren != std::string::npos) w.erase(paren);
    return w;
}

}  // namespace

class SpeechRecognizer::Engine : public std::enable_shared_from_this<Engine> {
public:
    explicit Engine(Options options) : options_(std::move(options)) {}

    ~Engine() {
        std::lock_guard guard(libraryMutex());
        if (ps_) ps_free(ps_);
        if (general_) ngram_model_free(general_);
        if (confirm_) ps_free(confirm_);
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
    using Frame = std::array<std::int16_t, frameSamples>;

    struct Running {
        std::uint64_t id = 0;
        ResultHandler handler;
        std::shared_ptr<std::atomic<bool>> cancelled;
        bool listening = false;  // false when there is no phrase to listen for
        std::string transcript;  // every stretch heard so far
        std::vector<HeardWord> words;
        std::size_t samples = 0;
        std::vector<std::int16_t> carry;
        std::deque<Frame> lead;  // the last quiet frames, the start of the next stretch
        bool inSpeech = false;
        long stretchFrames = 0;  // frames of the stretch decoded so far
        int quietRun = 0;
        // Phrase words of the stretch's running guess (a word and which time it is said in the stretch), with
        // how many checks in a row they have stood there, and those reported before the stretch ended.
        std::map<std::pair<std::string, int>, int> standing;
        std::vector<std::pair<std::string, int>> reportedEarly;
        // Short phrase words already decoded again, and the stretch's audio as decoded so far.
        std::map<std::pair<std::string, int>, int> confirmed;  // how many times each was
        std::vector<Frame> audio;
        int framesSinceCheck = 0;
        // The decoders number frames on from one utterance to the next, from when they were made: the number
        // of the stretch's first frame.
        int firstFrame = 0;
    };

    bool load() {
        if (ps_) return true;
        if (failed_) return false;
        const std::string model = options_.modelDirectory + "/en-us/en-us";
        const std::string dict = options_.modelDirectory + "/en-us/cmudict-en-us.dict";
        const std::string lm = options_.modelDirectory + "/en-us/en-us.lm.bin";
        std::lock_guard guard(libraryMutex());
        quietenLibrary();
        config_ = cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", model.c_str(), "-dict", dict.c_str(), "-dither", "no",
                              nullptr);
        if (config_) ps_ = ps_init(config_);
        if (ps_) general_ = ngram_model_read(config_, lm.c_str(), NGRAM_AUTO, ps_get_logmath(ps_));
        if (general_ && options_.confirmChecks > 0) confirm_ = ps_init(config_);
        if (!ps_ || !general_ || (options_.confirmChecks > 0 && !confirm_)) {
            failed_ = true;
            return false;
        }
        return true;
    }

    /// Sets up decoding with the general model and the phrases' words; false when none of them can be
    /// listened for.
    bool configure(const std::vector<std::string>& phrases) {
        std::vector<std::string> words;
        std::map<std::string, int> phones;
        for (const auto& phrase : phrases) {
            const auto pieces = phraseWords(phrase);
            bool known = !pieces.empty();
            for (const auto& word : pieces) {
                if (!known) break;
                if (std::find(words.begin(), words.end(), word) != words.end()) continue;
                if (char* found = ps_lookup_word(ps_, word.c_str())) {
                    phones[word] = countPhones(found);
                    ckd_free(found);
                    continue;
                }
                // A word the dictionary lacks is listened for in each likely reading of its spelling, the
                // others as alternative pronunciations ("word(2)"), which the decoders report as the word.
                const auto readings = GraphemeToPhoneme::readings(word);
                known = !readings.empty();
                for (std::size_t i = 0; i < readings.size() && known; ++i) {
                    const std::string entry = i == 0 ? word : word + "(" + std::to_string(i + 1) + ")";
                    known = ps_add_word(ps_, entry.c_str(), readings[i].c_str(), FALSE) >= 0 &&
                            (!confirm_ || ps_add_word(confirm_, entry.c_str(), readings[i].c_str(), FALSE) >= 0);
                }
                // The first reading's length decides how the word is reported, as for a word of the dictionary
                // with several pronunciations: the other readings differ from it in vowels only.
                if (known) phones[word] = countPhones(readings.front());
                if (known && readings.size() > 1) readAlike_.insert(word);
            }
            if (!known) continue;
            for (const auto& word : pieces) {
                if (std::find(words.begin(), words.end(), word) == words.end()) words.push_back(word);
            }
        }
        if (words.empty()) return false;
        std::sort(words.begin(), words.end());
        if (words == configured_) return true;
        configured_.clear();
        needed_.clear();
        confirmNeeded_.clear();

        // The phrases' words as a model of their own, mixed into the general one.
        std::string body = "\\data\\\nngram 1=" + std::to_string(words.size() + 2) + "\n\n\\1-grams:\n";
        char line[256];
        const double each = std::log10(1.0 / static_cast<double>(words.size() + 1));
        std::snprintf(line, sizeof line, "%.4f </s>\n-99 <s>\n", each);
        body += line;
        for (const auto& word : words) {
            std::snprintf(line, sizeof line, "%.4f ", each);
            body += line + word + "\n";
        }
        body += "\n\\end\\\n";
        std::string path = (std::filesystem::temp_directory_path() / "morvane-words-XXXXXX").string();
        const int fd = mkstemp(path.data());
        if (fd < 0) return false;
        const bool written = ::write(fd, body.data(), body.size()) == static_cast<ssize_t>(body.size());
        ::close(fd);
        // The running decoder and the one that decodes short words again listen with the same model (both
        // decode on this queue only).
        auto mix = [&](ps_decoder_t* ps) {
            std::lock_guard guard(libraryMutex());
            bool set = false;
            if (ngram_model_t* own = ngram_model_read(config_, path.c_str(), NGRAM_ARPA, ps_get_logmath(ps))) {
                const float share = static_cast<float>(std::clamp(options_.phraseWeight, 1e-6, 0.5));
                ngram_model_t* models[] = {general_, own};
                char generalName[] = "general";
                char phrasesName[] = "phrases";
                char* names[] = {generalName, phrasesName};
                const float weights[] = {1.0f - share, share};
                // The mixture and the search hold their own references.
                if (ngram_model_t* mixed = ngram_model_set_init(config_, models, names, weights, 2)) {
                    set = ps_set_lm(ps, "words", mixed) >= 0 && ps_set_search(ps, "words") >= 0;
                    ngram_model_free(mixed);
                }
                ngram_model_free(own);
            }
            return set;
        };
        const bool set = written && mix(ps_) && (!confirm_ || mix(confirm_));
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
        if (!set) return false;
        configured_ = words;
        early_.clear();
        for (const auto& word : words) {
            needed_[word] = neededConfidence(phones[word], options_.minConfidence);
            if (phones[word] >= earlyPhones) early_.insert(word);
            if (phones[word] < confirmPhones) {
                confirmNeeded_[word] = neededConfidence(phones[word], options_.confirmConfidence);
            }
        }
        return true;
    }

    /// A word's posterior probability where the decoder put it. The readings of a word added in several
    /// share its probability between them (the lattice holds each as a word of its own), so for such a word
    /// what the other readings hold through the middle of the segment is added.
    double posterior(ps_decoder_t* ps, ps_seg_t* seg) const {
        logmath_t* logmath = ps_get_logmath(ps);
        int acoustic = 0, language = 0, backoff = 0;
        const double own = logmath_exp(logmath, ps_seg_prob(seg, &acoustic, &language, &backoff));
        const char* segWord = ps_seg_word(seg);
        const std::string word = spokenWord(segWord);
        ps_lattice_t* lattice = readAlike_.contains(word) ? ps_get_lattice(ps) : nullptr;
        if (!lattice) return own;
        int first = 0, last = 0;
        ps_seg_frames(seg, &first, &last);
        struct Link {
            std::string reading;
            int first, last;
            double p;
        };
        std::vector<Link> links;
        for (ps_latnode_iter_t* it = ps_latnode_iter(lattice); it; it = ps_latnode_iter_next(it)) {
            ps_latnode_t* node = ps_latnode_iter_node(it);
            const char* reading = ps_latnode_word(lattice, node);
            if (spokenWord(reading) != word) continue;
            const int start = ps_latnode_times(node, nullptr, nullptr);
            for (ps_latlink_iter_t* exit = ps_latnode_exits(node); exit; exit = ps_latlink_iter_next(exit)) {
                ps_latlink_t* link = ps_latlink_iter_link(exit);
                links.push_back({reading, start, ps_latlink_times(link, nullptr),
                                 logmath_exp(logmath, ps_latlink_prob(lattice, link, nullptr))});
            }
        }
        // The lattice counts frames from its own start: the segment is the likeliest link of its reading and
        // length. The other readings' links through its middle are other paths (no path holds two).
        const Link* self = nullptr;
        for (const auto& link : links) {
            if (link.reading == segWord && link.last - link.first == last - first && (!self || link.p > self->p)) {
                self = &link;
            }
        }
        if (!self) return own;
        const int middle = self->first + (self->last - self->first) / 2;
        double others = 0;
        for (const auto& link : links) {
            if (link.reading != segWord && link.first <= middle && link.last >= middle) others += link.p;
        }
        return std::min(own + others, 1.0);
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
        detector_.reset();
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
            while (current_ && run.carry.size() - used >= frameSamples) {
                Frame frame;
                std::copy_n(run.carry.begin() + static_cast<std::ptrdiff_t>(used), frameSamples, frame.begin());
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

    /// Follows the pauses and feeds the stretches of speech to the decoder as they come; false when the
    /// recognition ended with an error.
    bool processFrame(Running& run, const Frame& frame) {
        const bool loud = detector_.isSpeech(frame);

        if (!run.inSpeech) {
            if (!loud) {
                run.lead.push_back(frame);
                if (run.lead.size() > leadFrames) run.lead.pop_front();
                return true;
            }
            run.inSpeech = true;
            run.quietRun = 0;
            run.stretchFrames = 0;
            run.framesSinceCheck = 0;
            run.standing.clear();
            run.reportedEarly.clear();
            run.confirmed.clear();
            run.audio.clear();
            run.firstFrame = decodedFrames_;
            if (ps_start_utt(ps_) < 0) return fail(run, "Recognition could not start");
            for (const auto& earlier : run.lead) {
                if (!decode(run, earlier)) return false;
            }
            run.lead.clear();
        }
        if (!decode(run, frame)) return false;
        run.quietRun = loud ? 0 : run.quietRun + 1;
        if (run.quietRun >= closingQuietFrames || run.stretchFrames >= maxStretchFrames) {
            if (!closeStretch(run)) return false;
            if (run.handler) run.handler(Result{run.transcript, false, run.words}, std::nullopt);
            return true;
        }
        if (++run.framesSinceCheck >= checkFrames) {
            run.framesSinceCheck = 0;
            checkEarly(run);
        }
        return true;
    }

    bool decode(Running& run, const Frame& frame) {
        ++run.stretchFrames;
        ++decodedFrames_;
        if (confirm_) run.audio.push_back(frame);
        if (ps_process_raw(ps_, frame.data(), frame.size(), FALSE, FALSE) < 0) {
            ps_end_utt(ps_);
            run.inSpeech = false;
            return fail(run, "Recognition failed");
        }
        return true;
    }

    /// A phrase word that has stood in the decoder's running guess for a while, well before where the decoder
    /// is, is reported at once rather than at the end of the stretch: a word said in the middle of talk should
    /// not wait for the talk to end. A long word is reported as it stands; a short one only once a second
    /// decode of the audio around it is sure of it; one in between waits for the pause.
    void checkEarly(Running& run) {
        if (options_.earlyChecks <= 0) return;
        int score = 0;
        if (!ps_get_hyp(ps_, &score)) return;
        // How far back a word ended is measured from the end of the guess, silence included.
        struct Piece {
            std::string word;
            int first, last;
        };
        std::vector<Piece> pieces;
        int end = 0;
        for (ps_seg_t* seg = ps_seg_iter(ps_); seg; seg = ps_seg_next(seg)) {
            int first = 0, last = 0;
            ps_seg_frames(seg, &first, &last);
            first -= run.firstFrame;
            last -= run.firstFrame;
            end = std::max(end, last);
            if (auto word = spokenWord(ps_seg_word(seg)); !word.empty()) {
                pieces.push_back({std::move(word), first, last});
            }
        }
        std::map<std::pair<std::string, int>, int> standing;
        std::vector<std::string> guess;
        std::optional<std::pair<std::string, int>> ready;
        std::size_t readyAt = 0;  // the words of the guess up to the word reported
        for (const auto& piece : pieces) {
            guess.push_back(piece.word);
            if (!needed_.contains(piece.word) || piece.last > end - settleFrames) continue;
            // The same word said twice in a stretch counts twice; its place in the guess may move.
            const std::pair<std::string, int> key{piece.word,
                                                  static_cast<int>(std::count(guess.begin(), guess.end(), piece.word))};
            const auto before = run.standing.find(key);
            const int checks = (before == run.standing.end() ? 0 : before->second) + 1;
            standing[key] = checks;
            if (ready ||
                std::find(run.reportedEarly.begin(), run.reportedEarly.end(), key) != run.reportedEarly.end()) {
                continue;
            }
            // A long word is reported once it has stood long enough, a short one when a second decode is sure
            // of it. That decode is tried at most twice, the second time with more of what follows; if neither
            // is sure, the word waits for the pause.
            bool heard = early_.contains(piece.word) && checks >= options_.earlyChecks;
            if (!heard && confirm_ && confirmNeeded_.contains(piece.word)) {
                int& tries = run.confirmed[key];
                if (tries < confirmTries && checks >= options_.confirmChecks + tries * retryChecks) {
                    ++tries;
                    heard = confirms(run, piece.word, piece.first, piece.last);
                }
            }
            if (heard) {
                ready = key;
                readyAt = guess.size();
            }
        }
        run.standing = std::move(standing);
        if (!ready) return;
        run.reportedEarly.push_back(*ready);
        // What follows the word is still the decoder's passing guess, and so are the other phrase words before
        // it: they wait for the pause.
        guess.resize(readyAt);
        std::string transcript = run.transcript;
        for (std::size_t i = 0; i < guess.size(); ++i) {
            if (i + 1 < guess.size() && needed_.contains(guess[i])) continue;
            transcript += (transcript.empty() ? "" : " ") + guess[i];
        }
        if (run.handler) run.handler(Result{transcript, false, run.words}, std::nullopt);
    }

    /// Decodes the stretch's audio from a little before the word (frames `first` to `last` of the running
    /// guess) to where the running decoder is, with the same model, and tells whether that decode is sure of
    /// the word at the same place.
    bool confirms(const Running& run, const std::string& word, int first, int last) {
        const int from = std::max(0, first - confirmLead);
        const int to = static_cast<int>(run.audio.size());
        if (from >= to || ps_start_utt(confirm_) < 0) return false;
        // The second decoder hears the microphone as the running one has learnt it (its cepstral mean), not as
        // it was at its own last decode.
        cmn_t* learnt = ps_get_feat(ps_)->cmn_struct;
        std::vector<mfcc_t> mean(static_cast<std::size_t>(learnt->veclen));
        cmn_live_get(learnt, mean.data());
        cmn_live_set(ps_get_feat(confirm_)->cmn_struct, mean.data());
        const int firstFrame = confirmFrames_;
        bool decoded = true;
        for (int i = from; i < to && decoded; ++i) {
            decoded = ps_process_raw(confirm_, run.audio[static_cast<std::size_t>(i)].data(), frameSamples, FALSE,
                                     FALSE) >= 0;
            ++confirmFrames_;
        }
        if (ps_end_utt(confirm_) < 0 || !decoded) return false;
        int score = 0;
        ps_get_hyp(confirm_, &score);
        double best = 0;
        for (ps_seg_t* seg = ps_seg_iter(confirm_); seg; seg = ps_seg_next(seg)) {
            int sf = 0, ef = 0;
            ps_seg_frames(seg, &sf, &ef);
            sf -= firstFrame;
            ef -= firstFrame;
            if (spokenWord(ps_seg_word(seg)) != word || sf + from > last || ef + from < first) continue;
            best = std::max(best, posterior(confirm_, seg));
        }
        return best >= confirmNeeded_.at(word);
    }

    bool fail(Running& run, const char* description) {
        auto handler = std::move(run.handler);
        stopCurrent();
        if (handler) handler(std::nullopt, Error{Error::decodingFailed, description});
        return false;
    }

    /// Ends the stretch's decoding and adds what was heard to the transcript; false when the recognition ended
    /// with an error.
    bool closeStretch(Running& run) {
        run.inSpeech = false;
        run.quietRun = 0;
        if (ps_end_utt(ps_) < 0) return fail(run, "Recognition failed");
        int score = 0;
        ps_get_hyp(ps_, &score);  // the best path, and with it each word's posterior probability
        for (ps_seg_t* seg = ps_seg_iter(ps_); seg; seg = ps_seg_next(seg)) {
            const std::string word = spokenWord(ps_seg_word(seg));
            if (word.empty()) continue;
            const double heard = posterior(ps_, seg);
            run.words.push_back({word, heard});
            if (const auto needed = needed_.find(word); needed != needed_.end() && heard < needed->second) continue;
            run.transcript += (run.transcript.empty() ? "" : " ") + word;
        }
        return true;
    }

    void finish(std::uint64_t id, bool report) {
        if (!current_ || current_->id != id) return;
        if (current_->inSpeech && !closeStretch(*current_)) return;
        Result result{current_->transcript, true, current_->words};
        auto handler = std::move(current_->handler);
        const bool cancelled = current_->cancelled->load();
        current_.reset();
        if (report && !cancelled && handler) handler(std::move(result), std::nullopt);
    }

    void stopCurrent() {
        if (current_ && current_->inSpeech) ps_end_utt(ps_);
        current_.reset();
    }

    Options options_;
    std::atomic<bool> failed_{false};
    std::atomic<std::uint64_t> lastTaskId_{0};
    std::atomic<std::size_t> backlog_{0};
    // Queue only.
    ps_decoder_t* ps_ = nullptr;
    cmd_ln_t* config_ = nullptr;
    ngram_model_t* general_ = nullptr;
    ps_decoder_t* confirm_ = nullptr;       // decodes the audio around a short word again
    std::vector<std::string> configured_;   // the phrases' words the search was set up with, sorted
    std::map<std::string, double> needed_;  // the confidence each of the phrases' words needs
    std::set<std::string> early_;           // the phrases' words that may be reported before a pause as they stand
    std::map<std::string, double> confirmNeeded_;  // the short words' confidence needed in a second decode
    std::set<std::string> readAlike_;              // words added to the decoders in several readings (they stay there)
    SpeechDetector detector_;                      // tells the stretches of speech from the noise between them
    // Frames given to the running decoder, and to the second one, since they were made.
    int decodedFrames_ = 0;
    int confirmFrames_ = 0;
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
        !std::filesystem::is_regular_file(dir / "en-us" / "cmudict-en-us.dict", error) ||
        !std::filesystem::is_regular_file(dir / "en-us" / "en-us.lm.bin", error)) {
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

double SpeechRecognizer::neededConfidence(int phones, double minConfidence) {
    // Above 1: never sure enough.
    const double base = std::max(minConfidence, 0.0);
    const double share = std::clamp((phones - 1) / 4.0, 0.0, 1.0);
    return 1.0 - (1.0 - base) * share;
}

}  // namespace morvane
