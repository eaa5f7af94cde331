// Measures the voice words on speech made at run time by festival's two US-English voices ("slt", an HTS voice
// trained on a woman's recordings; "kal", a diphone voice cut from a man's) and by espeak-ng's voices, at several
// speaking rates and levels of background noise, every figure per voice family:
//  - each word (the defaults and two custom words missing from the dictionary) alone, at the start, in the
//    middle and at the end of a sentence, streamed in real time through a `VoiceTrigger`: which action fired and
//    how long after the end of the word;
//  - every ordinary phrase of a film set (`setPhrases`), none holding a voice word, and the human LibriVox
//    recordings of pocketsphinx's test data, through the recogniser as fast as it goes: whether anything fires.
// Also the processor time that listening takes per second of speech and of quiet. Each clip belongs to one of two
// halves by a hash of its text and conditions: the recogniser's settings were chosen on the "tune" half and are
// reported on the "held-out" half (`--part`). Each voice in each noise level is heard by a recogniser of its
// own, which first hears that voice in that noise, and every clip's noise starts a second before its speech.
// Every figure is given per noise level and over clean and 20 dB together, the levels the targets are read
// against. The fast mode decodes exactly what the streamed one does; it differs only in having no latency and in
// judging a recognition by its first report before a pause, else by its end (the trigger fires on the first
// matching report, which at a pause holds the same transcript).
//
// Usage: bench_voice_words [--voices slt,kal,en-us+f2] [--rates 140,180] [--noise clean,20,10] [--threads 3]
//                          [--part held-out|tune|all] [--weight 0.01] [--confidence 0.5] [--early 3]
//                          [--confirm 2] [--confirm-confidence 0.9] [--phrase-conditions 2] [--fast] [--details]
//                          [--red-noise]
//   --fast: words through the recogniser as fast as it goes too (no latency); --details: every miss and alarm;
//   --red-noise: noise falling 6 dB an octave instead of pink (3 dB an octave), as measured before.

#include <espeak-ng/espeak_ng.h>
#include <espeak-ng/speak_lib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "platform/defaults.h"
#include "platform/grapheme_to_phoneme.h"
#include "platform/manual_executor.h"
#include "platform/speech_recognizer.h"
#include "remote/voice_trigger.h"
#include "set_phrases.h"
#include "spoken_audio.h"
#include "temp_dir.h"

using namespace morvane;
using Clock = std::chrono::steady_clock;

namespace {

struct Settings {
    std::vector<std::string> voices{"slt", "kal", "en-us+f2", "en-us+f3", "en-us+f4", "en-us+m2"};
    std::vector<int> rates{140, 180};
    std::vector<double> noise{-1, 20, 10};  // signal-to-noise ratios in dB; -1: none
    int threads = 3;
    std::string part = "held-out";
    double weight = SpeechRecognizer::defaultPhraseWeight;
    std::vector<double> confidences{SpeechRecognizer::defaultMinConfidence};  // the first is the recogniser's
    int phraseConditions = 2;
    int early = SpeechRecognizer::defaultEarlyChecks;
    int confirm = SpeechRecognizer::defaultConfirmChecks;
    double confirmConfidence = SpeechRecognizer::defaultConfirmConfidence;
    bool fast = false;
    bool details = false;

    /// Whether a clip of this half is measured.
    bool takes(bool tuning) const { return part == "all" || (part == "tune") == tuning; }
};

/// The half a clip belongs to, by a hash (FNV-1a) of what is said and how: every noise level of one saying, and
/// every saying of one ordinary phrase, stay in one half.
bool inTuningHalf(const std::string& key) {
    std::uint32_t h = 2166136261u;
    for (unsigned char c : key) h = (h ^ c) * 16777619u;
    return (h >> 7) % 2 == 0;
}

const std::filesystem::path librivoxFolder = "/usr/share/pocketsphinx/test/data/librivox";
std::error_code error;

std::vector<std::string> split(const std::string& text) {
    std::vector<std::string> out;
    std::stringstream in(text);
    for (std::string piece; std::getline(in, piece, ',');) {
        if (!piece.empty()) out.push_back(piece);
    }
    return out;
}

// The words, the action each fires, and the stored words they are heard with.
struct Word {
    std::string text;
    std::string action;  // "shutter", "record", "stop", "mark"
    bool custom;
};
const std::vector<Word> words{{"pemble", "shutter", false}, {"action", "record", false}, {"cut", "stop", false},
                              {"mark", "mark", false},      {"flimbo", "shutter", true}, {"shazam", "record", true}};

const std::vector<std::pair<std::string, std::string>> placings{
    {"alone", "{}"},
    {"start", "{} when you are ready"},
    {"start", "{} right now please"},
    {"middle", "okay {} on my signal"},
    {"middle", "and now {} everybody quiet"},
    {"end", "roll camera and {}"},
    {"end", "okay everybody {}"},
};

// Speech, with where its words end.
struct Speech {
    std::vector<std::int16_t> samples;  // 16 kHz mono
    std::vector<double> wordEnds;       // seconds
    double end = 0;                     // end of the last loud sample, seconds
};

bool isFestival(const std::string& voice) {
    return voice == "slt" || voice == "kal";
}

/// The voice family figures are reported by.
std::string familyOf(const std::string& voice) {
    return isFestival(voice) ? voice : "espeak";
}

double loudEnd(const std::vector<std::int16_t>& samples) {
    std::size_t last = 0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        if (std::abs(samples[i]) > 300) last = i;
    }
    return static_cast<double>(last) / SpeechAudioConverter::outputRate;
}

std::vector<short> synthBuffer;
std::vector<espeak_EVENT> synthEvents;

int collect(short* wav, int count, espeak_EVENT* events) {
    if (wav && count > 0) synthBuffer.insert(synthBuffer.end(), wav, wav + count);
    for (espeak_EVENT* e = events; e && e->type != espeakEVENT_LIST_TERMINATED; ++e) synthEvents.push_back(*e);
    return 0;
}

Speech speakWithEspeak(const std::string& text, const std::string& voice, int rate) {
    synthBuffer.clear();
    synthEvents.clear();
    espeak_SetVoiceByName(voice.c_str());
    espeak_SetParameter(espeakRATE, rate, 0);
    espeak_Synth(text.c_str(), text.size() + 1, 0, POS_CHARACTER, 0, espeakCHARS_UTF8, nullptr, nullptr);
    espeak_Synchronize();
    const int rateIn = espeak_ng_GetSampleRate();
    SpeechAudioConverter converter({SpeechAudioConverter::SampleType::int16, 1, rateIn});
    Speech speech;
    speech.samples = converter.convert(std::as_bytes(std::span(synthBuffer)));
    speech.end = loudEnd(speech.samples);
    // espeak-ng tells where words start: a word ends where the next one starts.
    std::vector<double> starts;
    for (const auto& e : synthEvents) {
        if (e.type == espeakEVENT_WORD) starts.push_back(e.audio_position / 1000.0);
    }
    for (std::size_t i = 0; i < starts.size(); ++i)
        speech.wordEnds.push_back(i + 1 < starts.size() ? starts[i + 1] : speech.end);
    return speech;
}

/// festival speaks many texts with one voice at one rate in one run; it tells where each word ends.
std::vector<Speech> speakWithFestival(const std::vector<std::string>& texts, const std::string& voice, int rate,
                                      const test::TempDir& dir) {
    static int batch = 0;
    const auto folder = dir / ("festival-" + std::to_string(++batch));
    std::filesystem::create_directories(folder);
    std::ofstream script(folder / "speak.scm");
    // About 165 words a minute is each voice's own rate.
    const double speed = rate / 165.0;
    if (voice == "slt") {
        script << "(voice_cmu_us_slt_arctic_hts)\n(set! hts_engine_params (append "
                  "cmu_us_slt_arctic_hts::hts_engine_params (list '(\"-r\" "
               << speed << "))))\n";
    } else {
        script << "(voice_kal_diphone)\n(Parameter.set 'Duration_Stretch " << 1.0 / speed << ")\n";
    }
    for (std::size_t i = 0; i < texts.size(); ++i) {
        const auto wav = folder / (std::to_string(i) + ".wav");
        script << "(set! utt (SynthText \"" << texts[i] << "\"))\n(utt.wave.resample utt 16000)\n(utt.save.wave utt \""
               << wav.string() << "\" 'riff)\n(format t \"clip " << i
               << "\")\n(mapcar (lambda (w) (format t \" %f\" (item.feat w \"word_end\"))) (utt.relation.items utt "
                  "'Word))\n(format t \"\\n\")\n";
    }
    script.close();
    const std::string command =
        "festival -b '" + (folder / "speak.scm").string() + "' > '" + (folder / "ends.txt").string() + "' 2>/dev/null";
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "festival failed for voice %s\n", voice.c_str());
        std::exit(1);
    }
    std::vector<Speech> out(texts.size());
    std::ifstream ends(folder / "ends.txt");
    for (std::string line; std::getline(ends, line);) {
        std::istringstream in(line);
        std::string tag;
        std::size_t index = 0;
        if (!(in >> tag >> index) || tag != "clip" || index >= out.size()) continue;
        for (double end; in >> end;) out[index].wordEnds.push_back(end);
    }
    for (std::size_t i = 0; i < texts.size(); ++i) {
        auto audio = testing::readWav(folder / (std::to_string(i) + ".wav"));
        if (!audio || audio->sampleRate != 16000) {
            std::fprintf(stderr, "festival made no audio for \"%s\"\n", texts[i].c_str());
            std::exit(1);
        }
        out[i].samples = std::move(audio->samples);
        out[i].end = loudEnd(out[i].samples);
    }
    return out;
}

struct Clip {
    std::string label;
    std::string word;    // empty for ordinary phrases
    std::string action;  // expected action
    std::string placing;
    bool custom = false;
    std::string voice;
    std::string family;
    double noise = -1;
    std::vector<std::int16_t> samples;
    double wordEnd = 0;  // seconds into the clip
};

// Noise runs a second before the speech, as a microphone's would.
constexpr double leadSeconds = 1.0;
constexpr double tailSeconds = 1.4;

bool redNoise = false;  // --red-noise

/// Lays speech into quiet (or noise at the given ratio to the speech's own level).
Clip makeClip(const Speech& speech, double snr, std::uint32_t seed) {
    Clip clip;
    const auto lead = static_cast<std::size_t>(leadSeconds * SpeechAudioConverter::outputRate);
    const auto tail = static_cast<std::size_t>(tailSeconds * SpeechAudioConverter::outputRate);
    std::vector<double> mixed(lead + speech.samples.size() + tail, 0.0);
    double power = 0;
    std::size_t loud = 0;
    for (std::size_t i = 0; i < speech.samples.size(); ++i) {
        mixed[lead + i] = speech.samples[i];
        if (std::abs(speech.samples[i]) > 300) {
            power += static_cast<double>(speech.samples[i]) * speech.samples[i];
            ++loud;
        }
    }
    if (snr >= 0 && loud > 0) {
        std::vector<double> noise;
        if (redNoise) {
            // Most of it below 300 Hz (white noise through a one-pole low-pass): what this measured before.
            std::mt19937 random(seed);
            std::normal_distribution<double> white;
            double state = 0;
            for (std::size_t i = 0; i < mixed.size(); ++i) noise.push_back(state = 0.9 * state + white(random));
            double noisePower = 0;
            for (double n : noise) noisePower += n * n;
            for (auto& n : noise) n /= std::sqrt(noisePower / static_cast<double>(noise.size()));
        } else {
            noise = testing::pinkNoise(mixed.size(), seed);
        }
        const double gain = std::sqrt(power / static_cast<double>(loud) / std::pow(10.0, snr / 10.0));
        for (std::size_t i = 0; i < mixed.size(); ++i) mixed[i] += gain * noise[i];
    }
    clip.samples.resize(mixed.size());
    for (std::size_t i = 0; i < mixed.size(); ++i) {
        clip.samples[i] = static_cast<std::int16_t>(std::lround(std::clamp(mixed[i], -32768.0, 32767.0)));
    }
    return clip;
}

/// The noise levels the voice words' targets are read against: clean and 20 dB.
bool targetLevel(double snr) {
    return snr < 0 || snr >= 20;
}
constexpr const char* targetColumn = "clean+20dB";

/// Clips one recogniser hears in turn: one voice in one noise level.
struct Group {
    std::string voice;
    double noise = -1;
    std::vector<std::size_t> clips;
};

std::vector<Group> groupsOf(const std::vector<Clip>& clips) {
    std::map<std::pair<std::string, double>, std::vector<std::size_t>> byKey;
    for (std::size_t i = 0; i < clips.size(); ++i) byKey[{clips[i].voice, clips[i].noise}].push_back(i);
    std::vector<Group> groups;
    for (auto& [key, members] : byKey) groups.push_back({key.first, key.second, std::move(members)});
    // The biggest first, so that the threads end at about the same time.
    std::stable_sort(groups.begin(), groups.end(),
                     [](const Group& a, const Group& b) { return a.clips.size() > b.clips.size(); });
    return groups;
}

// What each voice says first, in the noise of the clips that follow; it holds none of the words.
const char* const warmUpText = "we are checking the sound before the first take of the morning";

std::string fill(const std::string& pattern, const std::string& word) {
    std::string out = pattern;
    out.replace(out.find("{}"), 2, word);
    return out;
}

std::string noiseName(double snr) {
    return snr < 0 ? "clean" : std::to_string(static_cast<int>(snr)) + " dB";
}

/// The action the trigger's matching takes for a transcript, or empty.
std::string actionFor(const std::string& transcript, bool custom) {
    const std::string shutter = custom ? "flimbo" : "pemble";
    const std::string record = custom ? "shazam" : "action";
    if (VoiceTrigger::matches(shutter, transcript)) return "shutter";
    if (VoiceTrigger::matches(record, transcript)) return "record";
    if (VoiceTrigger::matches("cut", transcript)) return "stop";
    if (VoiceTrigger::matches("mark", transcript)) return "mark";
    return "";
}

std::vector<std::string> storedWords(bool custom) {
    return {custom ? "flimbo" : "pemble", "mark", custom ? "shazam" : "action", "cut"};
}

std::string actionFor(const std::string& transcript, bool custom);

struct Heard {
    std::vector<SpeechRecognizer::HeardWord> words;  // at the end
    std::string early;                               // the first action a report before a pause fired, if any
    int stretches = 0;                               // stretches of speech that decoded words
};

/// The words of one recognition over the whole clip, as fast as the recogniser goes.
Heard transcribe(SpeechRecognizer& recognizer, const Clip& clip, double pause = 0) {
    auto request = std::make_shared<SpeechRecognizer::Request>(storedWords(clip.custom));
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    Heard heard;
    std::size_t decoded = 0;
    auto task = recognizer.recognitionTask(request, [&](auto result, auto error) {
        std::lock_guard g(m);
        // A report before a pause adds no decoded words; one at a pause does, and is judged below at each
        // confidence from its words.
        if (result && !result->isFinal && result->words.size() == decoded && heard.early.empty()) {
            heard.early = actionFor(result->transcript, clip.custom);
        }
        if (result && result->words.size() > decoded) ++heard.stretches;
        if (result) decoded = result->words.size();
        if (error || (result && result->isFinal)) {
            if (result) heard.words = result->words;
            done = true;
            cv.notify_all();
        }
    });
    if (pause > 0) {
        // 5 s at a time, each given time to be taken before the next.
        for (std::size_t at = 0; at < clip.samples.size(); at += 5 * 16000) {
            request->append(
                std::span(clip.samples).subspan(at, std::min<std::size_t>(5 * 16000, clip.samples.size() - at)));
            std::this_thread::sleep_for(std::chrono::duration<double>(pause));
        }
    } else {
        request->append(clip.samples);
    }
    request->endAudio();
    std::unique_lock lock(m);
    cv.wait_for(lock, std::chrono::seconds(60), [&] { return done; });
    return heard;
}

/// The transcript the recogniser gives at this confidence.
std::string transcriptAt(const Heard& heard, bool custom, double confidence) {
    // The dictionary's phones of the words (and espeak-ng's for the two it lacks).
    static const std::map<std::string, int> phones{{"pemble", 6}, {"action", 5}, {"cut", 3},
                                                   {"mark", 4},   {"flimbo", 6}, {"shazam", 5}};
    const auto stored = storedWords(custom);
    std::string out;
    for (const auto& w : heard.words) {
        const bool phraseWord = std::find(stored.begin(), stored.end(), w.word) != stored.end();
        if (phraseWord && w.confidence < SpeechRecognizer::neededConfidence(phones.at(w.word), confidence)) continue;
        out += (out.empty() ? "" : " ") + w.word;
    }
    return out;
}

/// The action a recognition fires: the first a report before a pause fired, else the end's at this confidence.
std::string firedAt(const Heard& heard, bool custom, double confidence) {
    return heard.early.empty() ? actionFor(transcriptAt(heard, custom, confidence), custom) : heard.early;
}

struct Outcome {
    std::string fired;  // the first action, or empty
    double latency = -1;
    std::string heard;
};

/// Streams the clip through a voice trigger in real time, 20 ms at a time, as a microphone would.
Outcome stream(const std::shared_ptr<SpeechRecognizer>& recognizer, const Clip& clip, const test::TempDir& dir,
               int index) {
    // Settings of the clip's own: a clip with custom words must not leave them to the next one.
    Defaults defaults(dir / ("defaults-" + std::to_string(index) + ".json"));
    if (clip.custom) {
        defaults.set(VoiceTrigger::shutterKey, "flimbo");
        defaults.set(VoiceTrigger::recordKey, "shazam");
    }
    auto main = std::make_shared<ManualExecutor>();
    VoiceTrigger::Environment env;
    env.defaults = &defaults;
    env.mainQueue = main;
    env.makeRecognizer = [recognizer](const std::string& locale) { return locale == "en-US" ? recognizer : nullptr; };
    env.currentLocale = [] { return std::string("en-US"); };
    const auto begin = Clock::now();
    env.now = [begin] { return std::chrono::duration<double>(Clock::now() - begin).count(); };
    auto trigger = VoiceTrigger::make(env);
    Outcome outcome;
    auto fired = [&](const char* action) {
        return [&outcome, action, begin] {
            if (!outcome.fired.empty()) return;
            outcome.fired = action;
            outcome.latency = std::chrono::duration<double>(Clock::now() - begin).count();
        };
    };
    trigger->onTrigger = fired("shutter");
    trigger->onRecord = fired("record");
    trigger->onStop = fired("stop");
    trigger->onMark = fired("mark");
    trigger->onHeard = [&](const std::string& words) { outcome.heard = words; };
    trigger->start(VoiceTrigger::Source::captureSamples);
    const SpeechAudioConverter::Format format{SpeechAudioConverter::SampleType::int16, 1, 16000};
    constexpr std::size_t step = 320;
    for (std::size_t at = 0; at < clip.samples.size(); at += step) {
        const auto n = std::min(step, clip.samples.size() - at);
        trigger->appendAudio(std::as_bytes(std::span(clip.samples).subspan(at, n)), format);
        const auto due = begin + std::chrono::microseconds(static_cast<long>((at + n) * 1e6 / 16000));
        while (Clock::now() < due) {
            main->runPending();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    // A microphone goes on after the clip: give a recogniser that lags behind (a loaded machine) time to catch up.
    const auto late = Clock::now() + std::chrono::seconds(3);
    while (outcome.fired.empty() && Clock::now() < late) {
        main->runPending();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    trigger->stop();
    main->runPending();
    if (outcome.latency >= 0) outcome.latency -= clip.wordEnd;
    return outcome;
}

double median(std::vector<double> v) {
    if (v.empty()) return NAN;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return NAN;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size())))];
}

double cpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);  // runs are long: each line as it comes
    Settings settings;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const std::string value = i + 1 < argc ? argv[i + 1] : "";
        if (arg == "--voices") {
            settings.voices = split(value), ++i;
        } else if (arg == "--rates") {
            settings.rates.clear();
            for (const auto& r : split(value)) settings.rates.push_back(std::stoi(r));
            ++i;
        } else if (arg == "--noise") {
            settings.noise.clear();
            for (const auto& n : split(value)) settings.noise.push_back(n == "clean" ? -1 : std::stod(n));
            ++i;
        } else if (arg == "--threads") {
            settings.threads = std::max(1, std::stoi(value)), ++i;
        } else if (arg == "--weight") {
            settings.weight = std::stod(value), ++i;
        } else if (arg == "--confidence") {
            settings.confidences.clear();
            for (const auto& c : split(value)) settings.confidences.push_back(std::stod(c));
            ++i;
        } else if (arg == "--early") {
            settings.early = std::max(0, std::stoi(value)), ++i;
        } else if (arg == "--confirm") {
            settings.confirm = std::max(0, std::stoi(value)), ++i;
        } else if (arg == "--confirm-confidence") {
            settings.confirmConfidence = std::stod(value), ++i;
        } else if (arg == "--phrase-conditions") {
            settings.phraseConditions = std::max(1, std::stoi(value)), ++i;
        } else if (arg == "--part") {
            settings.part = value, ++i;
            if (settings.part != "tune" && settings.part != "held-out" && settings.part != "all") {
                std::fprintf(stderr, "--part is tune, held-out or all\n");
                return 2;
            }
        } else if (arg == "--fast") {
            settings.fast = true;
        } else if (arg == "--red-noise") {
            redNoise = true;
        } else if (arg == "--details") {
            settings.details = true;
        } else {
            std::fprintf(stderr, "unknown argument %s\n", arg.c_str());
            return 2;
        }
    }

    // espeak-ng is set up by the pronunciation helper (it keeps one state for the process); synthesis uses it
    // before any recogniser starts and gives it back as it found it.
    GraphemeToPhoneme::pronounce("pemble");
    espeak_SetSynthCallback(collect);

    test::TempDir dir;
    // What each voice says at each rate: the word sentences and the ordinary phrases.
    struct Saying {
        std::string text, voice;
        int rate = 0;
        Speech speech;
    };
    std::vector<Saying> sayings;
    for (const auto& word : words) {
        for (const auto& [placing, pattern] : placings) {
            for (const auto& voice : settings.voices) {
                for (int rate : settings.rates) sayings.push_back({fill(pattern, word.text), voice, rate, {}});
            }
        }
    }
    // Each phrase in a few conditions per voice family, turn by turn over the family's voices, rates and noise.
    std::map<std::string, std::vector<std::string>> familyVoices;
    for (const auto& voice : settings.voices) familyVoices[familyOf(voice)].push_back(voice);
    struct PhraseTurn {
        std::size_t saying;
        double snr;
    };
    std::vector<PhraseTurn> phraseTurns;
    for (const auto& [family, voices] : familyVoices) {
        std::size_t turn = 0;
        for (const char* phrase : testing::setPhrases) {
            for (int c = 0; c < settings.phraseConditions; ++c, ++turn) {
                const auto& voice = voices[turn % voices.size()];
                const int rate = settings.rates[(turn / voices.size()) % settings.rates.size()];
                phraseTurns.push_back({sayings.size(), settings.noise[turn % settings.noise.size()]});
                sayings.push_back({phrase, voice, rate, {}});
            }
        }
    }
    std::map<std::string, std::size_t> warmUpSaying;
    for (const auto& voice : settings.voices) {
        warmUpSaying[voice] = sayings.size();
        sayings.push_back({warmUpText, voice, settings.rates.front(), {}});
    }
    for (const auto& voice : settings.voices) {
        for (int rate : settings.rates) {
            std::vector<std::size_t> mine;
            for (std::size_t i = 0; i < sayings.size(); ++i) {
                if (sayings[i].voice == voice && sayings[i].rate == rate) mine.push_back(i);
            }
            if (!isFestival(voice)) {
                for (auto i : mine) sayings[i].speech = speakWithEspeak(sayings[i].text, voice, rate);
                continue;
            }
            std::vector<std::string> texts;
            for (auto i : mine) texts.push_back(sayings[i].text);
            auto spoken = speakWithFestival(texts, voice, rate, dir);
            for (std::size_t k = 0; k < mine.size(); ++k) sayings[mine[k]].speech = std::move(spoken[k]);
        }
    }

    std::map<std::string, Speech> warmUps;
    for (const auto& [voice, index] : warmUpSaying) warmUps[voice] = sayings[index].speech;
    std::vector<Clip> wordClips, phraseClips;
    std::uint32_t seed = 1;
    std::size_t saying = 0;
    for (const auto& word : words) {
        for (const auto& placing : placings) {
            for (std::size_t v = 0; v < settings.voices.size() * settings.rates.size(); ++v, ++saying) {
                const auto& [text, voice, rate, speech] = sayings[saying];
                // The word's place in the sentence, and where it ends.
                std::size_t index = 0;
                std::stringstream in(text);
                for (std::string piece; in >> piece && piece != word.text;) ++index;
                const double end = index < speech.wordEnds.size() ? speech.wordEnds[index] : speech.end;
                const bool tuning = inTuningHalf(text + " " + voice + " " + std::to_string(rate));
                for (double snr : settings.noise) {
                    Clip clip = makeClip(speech, snr, seed++);
                    if (!settings.takes(tuning)) continue;
                    clip.label = text + " / " + voice + " " + std::to_string(rate) + " / " + noiseName(snr);
                    clip.word = word.text;
                    clip.action = word.action;
                    clip.placing = placing.first;
                    clip.custom = word.custom;
                    clip.voice = voice;
                    clip.family = familyOf(voice);
                    clip.noise = snr;
                    clip.wordEnd = leadSeconds + end;
                    wordClips.push_back(std::move(clip));
                }
            }
        }
    }
    for (const auto& [index, snr] : phraseTurns) {
        const auto& [text, voice, rate, speech] = sayings[index];
        Clip clip = makeClip(speech, snr, seed++);
        if (!settings.takes(inTuningHalf(text))) continue;
        clip.label = text + " / " + voice + " " + std::to_string(rate) + " / " + noiseName(snr);
        clip.voice = voice;
        clip.family = familyOf(voice);
        clip.noise = snr;
        phraseClips.push_back(std::move(clip));
    }
    // People reading a book aloud (LibriVox), in every noise level: none of it may fire anything.
    std::vector<Clip> readingClips;
    for (const auto& entry : std::filesystem::directory_iterator(librivoxFolder, error)) {
        if (entry.path().extension() != ".wav") continue;
        const auto audio = testing::readWav(entry.path());
        if (!audio || audio->sampleRate != 16000) continue;
        Speech speech;
        speech.samples = audio->samples;
        for (double snr : settings.noise) {
            Clip clip = makeClip(speech, snr, seed++);
            clip.label = entry.path().stem().string() + " / " + noiseName(snr);
            clip.voice = clip.family = "librivox";
            clip.noise = snr;
            readingClips.push_back(std::move(clip));
        }
    }
    espeak_SetVoiceByName("en-us");
    std::printf("corpus (%s): %zu word clips, %zu ordinary phrase clips (%zu phrases), %zu read-aloud clips; voices",
                settings.part.c_str(), wordClips.size(), phraseClips.size(), testing::setPhrases.size(),
                readingClips.size());
    // The read-aloud clips go through the recogniser as the ordinary phrases do, as a family of their own.
    for (auto& clip : readingClips) phraseClips.push_back(std::move(clip));
    for (const auto& v : settings.voices) std::printf(" %s", v.c_str());
    std::printf("; rates");
    for (int r : settings.rates) std::printf(" %d", r);
    std::printf("; noise");
    for (double n : settings.noise) std::printf(" %s", noiseName(n).c_str());
    std::printf(
        "; weight %g, confidence %g, early after %d checks, short words decoded again after %d checks "
        "(confidence %g)\n",
        settings.weight, settings.confidences.front(), settings.early, settings.confirm, settings.confirmConfidence);

    SpeechRecognizer::Options options;
    options.phraseWeight = settings.weight;
    options.minConfidence = settings.confidences.front();
    options.earlyChecks = settings.early;
    options.confirmChecks = settings.confirm;
    options.confirmConfidence = settings.confirmConfidence;

    // Each voice in each noise level on a recogniser of its own that has first heard that voice say a sentence
    // in that noise, as a microphone in one room hears one person: the decoder's cepstral mean is learnt from
    // what it hears and would otherwise carry over from clips of other voices and noise levels.
    auto runGroups = [&](const std::vector<Clip>& clips, const auto& each) {
        const auto groups = groupsOf(clips);
        std::atomic<std::size_t> next{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < settings.threads; ++t) {
            threads.emplace_back([&, t] {
                for (std::size_t g; (g = next++) < groups.size();) {
                    auto recognizer = SpeechRecognizer::make("en-US", options);
                    if (const auto w = warmUps.find(groups[g].voice); w != warmUps.end()) {
                        transcribe(*recognizer, makeClip(w->second, groups[g].noise, 1000 + static_cast<int>(g)));
                    }
                    for (auto i : groups[g].clips) each(recognizer, i, t);
                }
            });
        }
        for (auto& t : threads) t.join();
    };
    std::vector<Outcome> wordOutcomes(wordClips.size());
    std::vector<Heard> wordHeard(wordClips.size()), phraseHeard(phraseClips.size());
    const double cpuBefore = cpuSeconds();
    const auto wallBefore = Clock::now();
    runGroups(wordClips, [&](const std::shared_ptr<SpeechRecognizer>& recognizer, std::size_t i, int) {
        if (settings.fast) {
            wordHeard[i] = transcribe(*recognizer, wordClips[i]);
        } else {
            wordOutcomes[i] = stream(recognizer, wordClips[i], dir, static_cast<int>(i));
        }
    });
    const double wordWall = std::chrono::duration<double>(Clock::now() - wallBefore).count();
    const double cpuMiddle = cpuSeconds();
    runGroups(phraseClips, [&](const std::shared_ptr<SpeechRecognizer>& recognizer, std::size_t i, int) {
        phraseHeard[i] = transcribe(*recognizer, phraseClips[i]);
    });
    const double cpuAfter = cpuSeconds();

    // Listening while nobody speaks: two minutes of quiet room noise.
    double quietCpu = 0;
    {
        Speech none;
        Clip room = makeClip(none, -1, 0);
        room.samples.assign(16000 * 120, 0);
        const auto noise = testing::pinkNoise(room.samples.size(), 7);
        for (std::size_t i = 0; i < noise.size(); ++i)
            room.samples[i] = static_cast<std::int16_t>(std::lround(30 * noise[i]));
        auto recognizer = SpeechRecognizer::make("en-US", options);
        transcribe(*recognizer, makeClip(none, -1, 0));  // loads the model
        const double before = cpuSeconds();
        // In pieces, as a microphone gives it: more than 20 s at once would be dropped as a backlog.
        transcribe(*recognizer, room, 0.2);
        quietCpu = (cpuSeconds() - before) / 120.0;
    }

    std::set<std::string> families;
    for (const auto& clip : wordClips) families.insert(clip.family);
    auto alarmsAt = [&](double confidence, const std::string& family) {
        int n = 0, total = 0;
        for (std::size_t i = 0; i < phraseClips.size(); ++i) {
            if (phraseClips[i].family != family) continue;
            ++total;
            n += !firedAt(phraseHeard[i], false, confidence).empty();
        }
        return 100.0 * n / std::max(1, total);
    };
    if (settings.fast) {
        std::printf("\nby confidence: words alone, words in sentences, ordinary phrases firing\n");
        for (const auto& family : families) {
            for (double confidence : settings.confidences) {
                int alone = 0, aloneRight = 0, inside = 0, insideRight = 0;
                for (std::size_t i = 0; i < wordClips.size(); ++i) {
                    if (wordClips[i].family != family) continue;
                    const bool right = firedAt(wordHeard[i], wordClips[i].custom, confidence) == wordClips[i].action;
                    (wordClips[i].placing == "alone" ? alone : inside)++;
                    (wordClips[i].placing == "alone" ? aloneRight : insideRight) += right;
                }
                std::printf("  %-8s %.2f  %5.1f %%  %5.1f %%  %5.2f %%\n", family.c_str(), confidence,
                            100.0 * aloneRight / std::max(1, alone), 100.0 * insideRight / std::max(1, inside),
                            alarmsAt(confidence, family));
            }
        }
        for (std::size_t i = 0; i < wordClips.size(); ++i) {
            // Every decoded word, the stored ones with their posterior probability.
            const auto stored = storedWords(wordClips[i].custom);
            for (const auto& w : wordHeard[i].words) {
                std::string piece = w.word;
                if (std::find(stored.begin(), stored.end(), w.word) != stored.end()) {
                    piece += "(" + std::to_string(w.confidence).substr(0, 4) + ")";
                }
                wordOutcomes[i].heard += (wordOutcomes[i].heard.empty() ? "" : " ") + piece;
            }
            if (!wordHeard[i].early.empty()) wordOutcomes[i].heard += " <early " + wordHeard[i].early + ">";
            wordOutcomes[i].fired = firedAt(wordHeard[i], wordClips[i].custom, settings.confidences.front());
        }
    }

    // Every figure per noise level, and over the levels the targets are read against (clean and 20 dB: a set
    // with people talking, fans, traffic outside); 10 dB is a loud room of its own.
    std::vector<std::string> columns;
    for (double snr : settings.noise) columns.push_back(noiseName(snr));
    const bool hasTargetLevels = std::any_of(settings.noise.begin(), settings.noise.end(), targetLevel);
    if (hasTargetLevels) columns.push_back(targetColumn);
    columns.push_back("all");
    auto columnsOf = [&](double snr) {
        std::vector<std::size_t> out{
            static_cast<std::size_t>(std::find(columns.begin(), columns.end(), noiseName(snr)) - columns.begin())};
        if (targetLevel(snr)) out.push_back(columns.size() - 2);
        out.push_back(columns.size() - 1);
        return out;
    };
    struct Tally {
        int total = 0, right = 0, wrong = 0, fired = 0, stretches = 0;
        std::vector<double> latencies;
    };
    // Rows in the order they were first counted, each with one tally per column.
    struct Table {
        std::vector<std::string> order;
        std::map<std::string, std::vector<Tally>> rows;
        std::vector<Tally>& operator()(const std::string& name, std::size_t width) {
            if (!rows.contains(name)) order.push_back(name);
            auto& row = rows[name];
            row.resize(width);
            return row;
        }
    };
    auto inFamily = [](const std::string& clipFamily, const std::string& family) {
        return clipFamily == family || (family == "festival" && (clipFamily == "slt" || clipFamily == "kal"));
    };
    std::set<std::string> reported = families;
    for (const auto& clip : phraseClips) reported.insert(clip.family);
    if (families.contains("slt") && families.contains("kal")) reported.insert("festival");
    std::vector<std::string> misses;
    std::printf(
        "\ncolumns: each noise level; %s: clean and 20 dB pink noise together, the conditions the targets "
        "are read against; all: every level\n",
        targetColumn);
    for (const auto& family : reported) {
        Table table;
        for (std::size_t i = 0; i < wordClips.size(); ++i) {
            const auto& clip = wordClips[i];
            if (!inFamily(clip.family, family)) continue;
            const auto& outcome = wordOutcomes[i];
            const bool right = outcome.fired == clip.action;
            const bool alone = clip.placing == "alone";
            std::vector<std::string> names{alone ? "alone" : "in sentences", "word " + clip.word, "voice " + clip.voice,
                                           "wrong action"};
            if (!alone) names.push_back("placing " + clip.placing);
            if (!alone) names.push_back("in sentences " + clip.word);
            for (const auto& name : names) {
                auto& row = table(name, columns.size());
                for (auto c : columnsOf(clip.noise)) {
                    auto& t = row[c];
                    ++t.total;
                    t.right += right;
                    t.wrong += !right && !outcome.fired.empty();
                    t.stretches += wordHeard[i].stretches;
                    if (right && outcome.latency > -10) t.latencies.push_back(outcome.latency);
                }
            }
            if (!right && family != "festival") {
                misses.push_back(clip.label + " -> " + (outcome.fired.empty() ? "nothing" : outcome.fired) + " [" +
                                 outcome.heard + "]");
            }
        }
        for (std::size_t i = 0; i < phraseClips.size(); ++i) {
            const auto& clip = phraseClips[i];
            if (!inFamily(clip.family, family)) continue;
            auto& row = table("phrases firing", columns.size());
            for (auto c : columnsOf(clip.noise)) {
                ++row[c].total;
                row[c].fired += !firedAt(phraseHeard[i], false, settings.confidences.front()).empty();
            }
        }
        std::printf("\n%s%s\n  %-22s", family.c_str(), family == "festival" ? " (slt and kal)" : "", "");
        for (const auto& c : columns) std::printf("  %-16s", c.c_str());
        std::printf("\n");
        auto print = [&](const std::string& label, const std::vector<Tally>& row, auto cell) {
            std::printf("  %-22s", label.c_str());
            for (const auto& t : row) {
                if (t.total == 0) {
                    std::printf("  %-16s", "-");
                } else {
                    std::printf("  %-16s", cell(t).c_str());
                }
            }
            std::printf("\n");
        };
        auto share = [](int n, int total) {
            char text[32];
            std::snprintf(text, sizeof text, "%d/%d %.1f %%", n, total, 100.0 * n / std::max(1, total));
            return std::string(text);
        };
        // Overall figures first, then by placing, word, voice.
        auto rank = [](const std::string& name) {
            const std::vector<std::string> first{"alone",    "in sentences", "wrong action",  "phrases firing",
                                                 "placing ", "word ",        "in sentences ", "voice "};
            for (std::size_t r = 0; r < first.size(); ++r) {
                if (name == first[r] || (first[r].back() == ' ' && name.starts_with(first[r]))) return r;
            }
            return first.size();
        };
        std::stable_sort(table.order.begin(), table.order.end(),
                         [&](const std::string& a, const std::string& b) { return rank(a) < rank(b); });
        for (const auto& name : table.order) {
            const auto& row = table.rows[name];
            if (name == "alone" || name == "in sentences") {
                print(name, row, [&](const Tally& t) { return share(t.right, t.total); });
                // Speech found whole is one stretch a clip; one that falls apart in the noise is more.
                if (settings.fast) {
                    print("  stretches a clip", row, [](const Tally& t) {
                        char text[32];
                        std::snprintf(text, sizeof text, "%.2f", static_cast<double>(t.stretches) / t.total);
                        return std::string(text);
                    });
                }
            } else if (name == "wrong action") {
                print(name, row, [&](const Tally& t) { return share(t.wrong, t.total); });
            } else if (name == "phrases firing") {
                print(name, row, [&](const Tally& t) { return share(t.fired, t.total); });
            } else if (!name.starts_with("voice ") || family == "festival" || family == "espeak") {
                print(name, row, [&](const Tally& t) { return share(t.right, t.total); });
            }
        }
        if (!settings.fast) {
            for (const char* name : {"alone", "in sentences"}) {
                if (!table.rows.contains(name)) continue;
                print(std::string("latency ") + name, table.rows[name], [](const Tally& t) {
                    char text[32];
                    std::snprintf(text, sizeof text, "%.2f/%.2f s", median(t.latencies), percentile(t.latencies, 0.9));
                    return std::string(text);
                });
            }
        }
        if (!hasTargetLevels || family == "librivox") continue;
        // The targets, on the column of the levels they are read against.
        const std::size_t c = columns.size() - 2;
        auto figure = [&](const std::string& row, auto value) {
            return table.rows.contains(row) && table.rows[row][c].total > 0 ? value(table.rows[row][c]) : NAN;
        };
        auto rightShare = [](const Tally& t) { return 100.0 * t.right / t.total; };
        std::printf("  targets (%s):", targetColumn);
        auto check = [](const char* name, double value, double target, bool atLeast, const char* unit) {
            if (std::isnan(value)) return;
            const bool met = atLeast ? value >= target : value <= target;
            std::printf("\n    %-32s %6.2f%s (%s %g)%s", name, value, unit, atLeast ? ">=" : "<=", target,
                        met ? "" : "  not met");
        };
        check("alone", figure("alone", rightShare), 97, true, " %");
        check("in sentences", figure("in sentences", rightShare), 92, true, " %");
        double worst = NAN;
        for (const auto& w : words) {
            const double v = figure("in sentences " + w.text, rightShare);
            if (!std::isnan(v) && !(v >= worst)) worst = v;
        }
        check("worst word in sentences", worst, 85, true, " %");
        check("wrong action", figure("wrong action", [](const Tally& t) { return 100.0 * t.wrong / t.total; }), 0.3,
              false, " %");
        check("phrases firing", figure("phrases firing", [](const Tally& t) { return 100.0 * t.fired / t.total; }), 0.3,
              false, " %");
        if (!settings.fast) {
            for (const char* name : {"alone", "in sentences"}) {
                check((std::string("latency median ") + name).c_str(),
                      figure(name, [](const Tally& t) { return median(t.latencies); }), 0.5, false, " s");
                check((std::string("latency p90 ") + name).c_str(),
                      figure(name, [](const Tally& t) { return percentile(t.latencies, 0.9); }), 1.0, false, " s");
            }
        }
        std::printf("\n");
    }

    std::vector<std::string> alarmLines;
    for (std::size_t i = 0; i < phraseClips.size(); ++i) {
        const std::string action = firedAt(phraseHeard[i], false, settings.confidences.front());
        if (action.empty()) continue;
        const std::string transcript = transcriptAt(phraseHeard[i], false, settings.confidences.front());
        alarmLines.push_back(phraseClips[i].label + " -> " + action + " [" + transcript + "]");
    }

    double wordAudio = 0, phraseAudio = 0;
    for (const auto& c : wordClips) wordAudio += static_cast<double>(c.samples.size()) / 16000;
    for (const auto& c : phraseClips) phraseAudio += static_cast<double>(c.samples.size()) / 16000;
    std::printf(
        "\nprocessor time per second of audio: %.3f s while streaming the words (%.0f s of audio in %.0f s "
        "on %d threads), %.3f s for the phrases\n",
        (cpuMiddle - cpuBefore) / wordAudio, wordAudio, wordWall, settings.threads,
        (cpuAfter - cpuMiddle) / phraseAudio);
    std::printf("processor time per second of quiet room noise: %.4f s\n", quietCpu);
    if (settings.details) {
        for (const auto& m : misses) std::printf("  missed: %s\n", m.c_str());
        for (const auto& a : alarmLines) std::printf("  alarm:  %s\n", a.c_str());
    }
    return 0;
}
