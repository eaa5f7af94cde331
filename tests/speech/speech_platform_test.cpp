

// The speech layer: espeak-ng pronunciations mapped to the model's phones, audio conversion, and the keyword
// recogniser on speech that espeak-ng says into temporary WAV files.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <fstream>
#include <future>
#include <mutex>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "platform/grapheme_to_phoneme.h"
#include "platform/speech_audio_converter.h"
#include "platform/speech_recognizer.h"
#include "spoken_audio.h"
#include "temp_dir.h"

namespace morvane {
namespace {

const std::set<std::string> modelPhones{"AA", "AE", "AH", "AO", "AW", "AY", "B",  "CH", "D", "DH", "EH", "ER", "EY",
                                        "F",  "G",  "HH", "IH", "IY", "JH", "K",  "L",  "M", "N",  "NG", "OW", "OY",
                                        "P",  "R",  "S",  "SH", "T",  "TH", "UH", "UW", "V", "W",  "Y",  "Z",  "ZH"};

bool allModelPhones(const std::string& phones) {
    std::istringstream in(phones);
    std::string p;
    int n = 0;
    while (in >> p) {
        if (!modelPhones.count(p)) return false;
        ++n;
    }
    return n > 0;
}

TEST(GraphemeToPhoneme, MapsEspeakMnemonicsToModelPhones) {
    EXPECT_EQ(GraphemeToPhoneme::phonesFromEspeak("p_'E_m_b_@L"), "P EH M B AH L");
    EXPECT_EQ(GraphemeToPhoneme::phonesFromEspeak("S_'V_t#_3"), "SH AH T ER");
    EXPECT_EQ(GraphemeToPhoneme::phonesFromEspeak("s_t2_'0_p"), "S T AA P");
    EXPECT_EQ(GraphemeToPhoneme::phonesFromEspeak("m_'A@_k I_t"), "M AA R K IH T");
    EXPECT_EQ(GraphemeToPhoneme::phonesFromEspeak("b_'V_?_n-"), "B AH T AH N");
    EXPECT_EQ(GraphemeToPhoneme::phonesFromEspeak("tS_'i:_z"), "CH IY Z");
    // Unknown pieces and bare marks are left out; variants fall back to their base phoneme.
    EXPECT_EQ(GraphemeToPhoneme::phonesFromEspeak("_:_ ||_k_'I#_Q_t"), "K IH T");
    EXPECT_EQ(GraphemeToPhoneme::phonesFromEspeak(""), "");
}

TEST(GraphemeToPhoneme, PronouncesWordsTheDictionaryLacks) {
    for (const char* word : {"brindlecroft", "quorbelin", "pemble", "don't", "zyxt"}) {
        auto phones = GraphemeToPhoneme::pronounce(word);
        ASSERT_TRUE(phones) << word;
        EXPECT_TRUE(allModelPhones(*phones)) << word << ": " << *phones;
    }
    EXPECT_EQ(GraphemeToPhoneme::pronounce("pemble"), "P EH M B AH L");
    EXPECT_FALSE(GraphemeToPhoneme::pronounce(""));
    EXPECT_FALSE(GraphemeToPhoneme::pronounce("two words"));
    EXPECT_FALSE(GraphemeToPhoneme::pronounce("semi;colon"));
    EXPECT_FALSE(GraphemeToPhoneme::pronounce(std::string(200, 'a')));
}

// A made-up word's spelling leaves its vowels and stress open: festival reads "flimbo" F L AY M B OW and "shazam"
// SH AE Z AH M where espeak-ng reads F L IH M B OW and SH AH Z AE M.
TEST(GraphemeToPhoneme, ReadsASpellingTheLikelyWays) {
    const struct {
        const char* spelling;
        const char* mnemonics;
        std::vector<std::string> readings;
    } cases[] = {
        {"flimbo", "f_l_'I_m_b_oU", {"F L IH M B OW", "F L AY M B OW", "F L AH M B OW"}},
        {"Shazam", "S_a#_z_'a_m", {"SH AH Z AE M", "SH AH Z EY M", "SH AE Z AH M"}},
        // The syllable of "-ble" takes no stress; a silent final "e" has no vowel to pair.
        {"pemble", "p_'E_m_b_@L", {"P EH M B AH L", "P IY M B AH L"}},
        {"flimbe", "f_l_'I_m_b", {"F L IH M B", "F L AY M B"}},
        // Two letters for one vowel, a vowel with its r: read one way only.
        {"snoo", "s_n_'u:", {"S N UW"}},
        {"zorblat", "z_'o@_b_l_a_t", {"Z AO R B L AE T"}},
        // Vowels of the spelling and of the reading that do not pair up.
        {"brmbl", "b_r_'V_m_b_@L", {"B R AH M B AH L"}},
        {"", "", {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(GraphemeToPhoneme::readingsFromEspeak(c.spelling, c.mnemonics), c.readings) << c.spelling;
    }
    for (const char* word : {"flimbo", "shazam", "quorbelin", "zyxt", "brindlecroft"}) {
        const auto readings = GraphemeToPhoneme::readings(word);
        ASSERT_FALSE(readings.empty()) << word;
        EXPECT_LE(readings.size(), 3u) << word;
        EXPECT_EQ(readings.front(), GraphemeToPhoneme::pronounce(word)) << word;
        EXPECT_EQ(std::set<std::string>(readings.begin(), readings.end()).size(), readings.size()) << word;
        for (const auto& reading : readings) EXPECT_TRUE(allModelPhones(reading)) << word << ": " << reading;
    }
    EXPECT_GE(GraphemeToPhoneme::readings("shazam").size(), 3u);
    EXPECT_TRUE(GraphemeToPhoneme::readings("two words").empty());
}

std::vector<std::byte> bytesOf(const void* p, std::size_t n) {
    const auto* b = static_cast<const std::byte*>(p);
    return {b, b + n};
}

/// Zero crossings per second of a signal at 16 kHz: twice its frequency for a sine.
double crossingsPerSecond(const std::vector<std::int16_t>& s) {
    int crossings = 0;
    for (std::size_t i = 1; i < s.size(); ++i) crossings += (s[i - 1] < 0) != (s[i] < 0);
    return crossings / (static_cast<double>(s.size()) / 16000);
}

TEST(SpeechAudioConverter, ResamplesAndMixesAnyCommonFormat) {
    // One second of a 440 Hz tone at 48 kHz in stereo floats, handed over in odd-sized pieces.
    std::vector<float> stereo;
    for (int i = 0; i < 48000; ++i) {
        const float v = 0.5f * std::sin(2 * M_PI * 440 * i / 48000.0);
        stereo.push_back(v);
        stereo.push_back(v);
    }
    SpeechAudioConverter converter({SpeechAudioConverter::SampleType::float32, 2, 48000});
    const auto all = bytesOf(stereo.data(), stereo.size() * sizeof(float));
    std::vector<std::int16_t> out;
    for (std::size_t at = 0; at < all.size();) {
        const std::size_t n = std::min<std::size_t>(all.size() - at, 1 + (at * 7919) % 3001);
        auto piece = converter.convert(std::span(all).subspan(at, n));
        out.insert(out.end(), piece.begin(), piece.end());
        at += n;
    }
    EXPECT_NEAR(static_cast<double>(out.size()), 16000, 1);
    EXPECT_NEAR(crossingsPerSecond(out), 880, 10);  // the filter rings for a moment at the start
    EXPECT_NEAR(*std::max_element(out.begin(), out.end()), 16383, 300);

    // 8-bit at 8 kHz upsampled; 32-bit at 22.05 kHz downsampled.
    std::vector<std::uint8_t> low;
    for (int i = 0; i < 8000; ++i)
        low.push_back(static_cast<std::uint8_t>(128 + 100 * std::sin(2 * M_PI * 300 * i / 8000.0)));
    SpeechAudioConverter up({SpeechAudioConverter::SampleType::uint8, 1, 8000});
    auto upOut = up.convert(bytesOf(low.data(), low.size()));
    EXPECT_NEAR(static_cast<double>(upOut.size()), 16000, 1);
    EXPECT_NEAR(crossingsPerSecond(upOut), 600, 8);

    std::vector<std::int32_t> wide;
    for (int i = 0; i < 22050; ++i)
        wide.push_back(static_cast<std::int32_t>(1e9 * std::sin(2 * M_PI * 1000 * i / 22050.0)));
    SpeechAudioConverter down({SpeechAudioConverter::SampleType::int32, 1, 22050});
    auto downOut = down.convert(bytesOf(wide.data(), wide.size() * 4));
    EXPECT_NEAR(static_cast<double>(downOut.size()), 16000, 1);
    EXPECT_NEAR(crossingsPerSecond(downOut), 2000, 10);

    // Sound above 8 kHz would fold into the band the recogniser hears (10 kHz at 48 kHz as 6 kHz): it is filtered
    // out, while speech frequencies pass whole.
    for (const int rate : {48000, 22050, 44100}) {
        for (const auto& [frequency, minLevel, maxLevel] :
             {std::tuple{10000.0, 0.0, 0.02}, std::tuple{9000.0, 0.0, 0.02}, std::tuple{1000.0, 0.95, 1.02},
              std::tuple{3000.0, 0.95, 1.02}}) {
            std::vector<std::int16_t> tone;
            for (int i = 0; i < rate; ++i)
                tone.push_back(static_cast<std::int16_t>(10000 * std::sin(2 * M_PI * frequency * i / rate)));
            SpeechAudioConverter filtered({SpeechAudioConverter::SampleType::int16, 1, rate});
            auto result = filtered.convert(bytesOf(tone.data(), tone.size() * 2));
            EXPECT_EQ(result.size(), 16000u) << rate;
            double power = 0;
            for (std::size_t i = 1000; i < result.size(); ++i) power += static_cast<double>(result[i]) * result[i];
            const double level =
                std::sqrt(power / static_cast<double>(result.size() - 1000)) / (10000 / std::sqrt(2.0));
            EXPECT_GE(level, minLevel) << frequency << " Hz at " << rate;
            EXPECT_LE(level, maxLevel) << frequency << " Hz at " << rate;
        }
    }

    // Non-finite floats become silence; nonsense formats give nothing.
    const float bad[] = {NAN, INFINITY, -INFINITY, 1e30f};
    SpeechAudioConverter same({SpeechAudioConverter::SampleType::float32, 1, 16000});
    auto badOut = same.convert(bytesOf(bad, sizeof bad));
    ASSERT_EQ(badOut.size(), 4u);
    EXPECT_EQ(badOut[0], 0);
    EXPECT_EQ(badOut[3], 32767);
    for (auto format : {SpeechAudioConverter::Format{SpeechAudioConverter::SampleType::int16, 0, 16000},
                        SpeechAudioConverter::Format{SpeechAudioConverter::SampleType::int16, 1, 0},
                        SpeechAudioConverter::Format{SpeechAudioConverter::SampleType::int16, -2, -5}}) {
        SpeechAudioConverter invalid(format);
        EXPECT_FALSE(invalid.isValid());
        EXPECT_TRUE(invalid.convert(bytesOf(stereo.data(), 64)).empty());
    }
}

/// Runs one recognition over the audio to its end and gives the final transcript (or the error).
struct Outcome {
    std::vector<std::string> partials;
    std::optional<SpeechRecognizer::Result> final;
    std::optional<SpeechRecognizer::Error> error;
};

Outcome recognise(SpeechRecognizer& recognizer, const std::vector<std::string>& phrases,
                  const std::vector<std::int16_t>& samples) {
    auto request = std::make_shared<SpeechRecognizer::Request>(phrases);
    std::mutex m;
    std::condition_variable cv;
    Outcome outcome;
    bool done = false;
    auto task = recognizer.recognitionTask(request, [&](auto result, auto error) {
        std::lock_guard g(m);
        if (error) outcome.error = error;
        if (result && !result->isFinal) outcome.partials.push_back(result->transcript);
        if (result && result->isFinal) outcome.final = result;
        if (error || (result && result->isFinal)) {
            done = true;
            cv.notify_all();
        }
    });
    // Handed over in microphone-sized pieces.
    for (std::size_t at = 0; at < samples.size(); at += 1600) {
        request->append(std::span(samples).subspan(at, std::min<std::size_t>(1600, samples.size() - at)));
    }
    request->endAudio();
    std::unique_lock lock(m);
    cv.wait_for(lock, std::chrono::seconds(60), [&] { return done; });
    return outcome;
}

/// Speech with half a second of quiet before and after.
std::vector<std::int16_t> spoken(const test::TempDir& dir, const std::string& text, const std::string& voice,
                                 int rate = 170) {
    auto audio = testing::speak(dir.path(), text, voice, rate);
    if (!audio) throw std::runtime_error("espeak-ng failed");
    SpeechAudioConverter converter(audio->format());
    std::vector<std::int16_t> out(8000, 0);
    auto converted = converter.convert(audio->bytes());
    out.insert(out.end(), converted.begin(), converted.end());
    out.insert(out.end(), 8000, 0);
    return out;
}

TEST(SpeechRecognizer, OnlyUSEnglishWithItsModel) {
    EXPECT_TRUE(SpeechRecognizer::make("en-US"));
    EXPECT_TRUE(SpeechRecognizer::make("en_us"));
    EXPECT_EQ(SpeechRecognizer::make("EN-us")->locale(), "en-US");
    EXPECT_FALSE(SpeechRecognizer::make("de-DE"));
    EXPECT_FALSE(SpeechRecognizer::make("en-GB"));
    EXPECT_FALSE(SpeechRecognizer::make(""));
    // A model folder without the model (or without its dictionary) is no recogniser.
    test::TempDir empty;
    EXPECT_FALSE(SpeechRecognizer::make("en-US", {empty.path().string()}));
    std::filesystem::create_directories(empty / "en-us" / "en-us");
    std::ofstream(empty / "en-us" / "en-us" / "mdef") << "0.3\n";
    EXPECT_FALSE(SpeechRecognizer::make("en-US", {empty.path().string()}));
}

/// Whether a transcript holds one of the default voice words as whole words.
bool holdsAVoiceWord(const std::string& transcript) {
    const std::string padded = " " + transcript + " ";
    for (const char* word : {"pemble", "action", "cut", "mark"}) {
        if (padded.find(" " + std::string(word) + " ") != std::string::npos) return true;
    }
    return false;
}

const std::vector<std::string> defaultWords{"pemble", "mark", "action", "cut"};

/// Speech by a festival voice with half a second of quiet before and after.
std::vector<std::int16_t> spokenByFestival(const test::TempDir& dir, const std::string& text,
                                           const std::string& voice) {
    auto audio = testing::speakWithFestival(dir.path(), text, voice);
    if (!audio) throw std::runtime_error("festival failed");
    std::vector<std::int16_t> out(8000, 0);
    out.insert(out.end(), audio->samples.begin(), audio->samples.end());
    out.insert(out.end(), 8000, 0);
    return out;
}

// A sample of the voice-word measurements (bench_voice_words holds the whole corpus). Synthetic voices suit the
// model unevenly; these are clips that the measurements show recognised.
TEST(SpeechRecognizer, HearsWordsAloneAndInSentences) {
    test::TempDir dir;
    auto recognizer = SpeechRecognizer::make("en-US");
    ASSERT_TRUE(recognizer);
    const std::vector<std::string> words{"pemble", "mark", "Action!", "cut", "shazam", "flimbo"};
    const struct {
        const char* text;
        const char* voice;
        const char* expected;
        int rate = 160;
        double snr = 0;  // pink noise this many decibels below the speech; none at 0
    } cases[] = {
        {"action", "en-us+f2", "action"},
        {"pemble", "en-us+f2", "pemble"},
        {"shazam", "en-us+f2", "shazam"},
        {"roll camera and action", "en-us+f2", "action"},
        {"okay pemble on my signal", "en-us+f2", "pemble"},
        {"mark right now please", "en-us+f2", "mark"},
        // Custom words said as festival reads their spelling (F L AY M B OW, SH AE Z AH M), not as espeak-ng does.
        {"okay flimbo on my signal", "slt", "flimbo"},
        {"shazam right now please", "slt", "shazam"},
        // In noise its readings share the decoder's belief in "shazam" (0.59 as one reading's alone).
        {"shazam", "en-us+f3", "shazam", 180, 20},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " / " + c.voice);
        const bool festival = !std::string(c.voice).starts_with("en-us");
        auto talk = festival ? spokenByFestival(dir, c.text, c.voice) : spoken(dir, c.text, c.voice, c.rate);
        if (c.snr > 0) testing::addNoise(talk, testing::speechPower(talk), c.snr, 1);
        auto outcome = recognise(*recognizer, words, talk);
        ASSERT_TRUE(outcome.final);
        EXPECT_NE((" " + outcome.final->transcript + " ").find(std::string(" ") + c.expected + " "), std::string::npos)
            << outcome.final->transcript;
        // Each stretch of speech is reported as it ends, before the recognition does.
        ASSERT_FALSE(outcome.partials.empty());
        EXPECT_EQ(outcome.partials.back(), outcome.final->transcript);
    }
    // Two stretches with a pause between: both reported, in order.
    auto both = spoken(dir, "action", "en-us+f2", 160);
    auto then = spoken(dir, "pemble", "en-us+f2", 160);
    both.insert(both.end(), then.begin(), then.end());
    const auto outcome = recognise(*recognizer, words, both);
    ASSERT_TRUE(outcome.final);
    const auto& transcript = outcome.final->transcript;
    EXPECT_LT(transcript.find("action"), transcript.find("pemble")) << transcript;
    EXPECT_NE(transcript.find("pemble"), std::string::npos) << transcript;
    EXPECT_GE(outcome.partials.size(), 2u);
}

TEST(SpeechRecognizer, WordsInRunningTalkAreReportedBeforeThePause) {
    test::TempDir dir;
    const auto longWord = spoken(dir, "action when you are ready everybody", "en-us+f2", 160);
    const auto shortWord = spokenByFestival(dir, "okay cut on my signal everybody", "slt");
    const auto fourPhones = spokenByFestival(dir, "okay mark on my signal everybody", "slt");
    SpeechRecognizer::Options standard, noEarly, noConfirm, neverSure;
    noEarly.earlyChecks = 0;
    noConfirm.confirmChecks = 0;
    neverSure.confirmConfidence = 1.01;
    const struct {
        const char* name;
        const std::vector<std::int16_t>& talk;
        const char* word;
        SpeechRecognizer::Options options;
        bool early;
        int times = 1;  // recognitions in a row on one recogniser: the decoders number frames on across them
    } cases[] = {
        {"long word", longWord, "action", standard, true},
        {"long word, no early reports", longWord, "action", noEarly, false},
        // A short word is decoded again around it before it is reported.
        {"short word", shortWord, "cut", standard, true},
        {"short word, a second time", shortWord, "cut", standard, true, 2},
        {"short word, not decoded again", shortWord, "cut", noConfirm, false},
        {"short word, the second decode never sure", shortWord, "cut", neverSure, false},
        // As sure inside "marker" as on its own: it waits for the pause.
        {"four-phone word", fourPhones, "mark", standard, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto recognizer = SpeechRecognizer::make("en-US", c.options);
        ASSERT_TRUE(recognizer);
        Outcome outcome;
        for (int i = 0; i < c.times; ++i) outcome = recognise(*recognizer, defaultWords, c.talk);
        ASSERT_TRUE(outcome.final);
        // Reported while the talk went on: before the end of the sentence was heard.
        const auto reported = std::find_if(outcome.partials.begin(), outcome.partials.end(), [&](const auto& p) {
            return (" " + p + " ").find(" " + std::string(c.word) + " ") != std::string::npos;
        });
        const bool early = reported != outcome.partials.end() && reported->find("everybody") == std::string::npos;
        std::string heard;
        for (const auto& p : outcome.partials) heard += "[" + p + "] ";
        EXPECT_EQ(early, c.early) << heard;
    }
}

TEST(SpeechRecognizer, OrdinaryTalkHoldsNoVoiceWord) {
    test::TempDir dir;
    auto recognizer = SpeechRecognizer::make("en-US");
    ASSERT_TRUE(recognizer);
    // Set talk, some of it close to the words ("actor", "cutting", "park", "cat").
    for (const char* phrase :
         {"okay", "reset", "check", "yes", "speed", "sound speed", "we have speed", "the actor is ready",
          "the cutting room will fix it", "park the truck around the corner", "the cat walked through the shot"}) {
        SCOPED_TRACE(phrase);
        auto outcome = recognise(*recognizer, defaultWords, spoken(dir, phrase, "en-us+f2", 160));
        ASSERT_TRUE(outcome.final);
        EXPECT_FALSE(holdsAVoiceWord(outcome.final->transcript)) << outcome.final->transcript;
    }
    // Words close to "cut" as a voice says them, said inside talk: not even reported before the pause.
    for (const char* phrase : {"we caught it on the second take", "put the cot by the window"}) {
        SCOPED_TRACE(phrase);
        auto outcome = recognise(*recognizer, defaultWords, spokenByFestival(dir, phrase, "kal"));
        ASSERT_TRUE(outcome.final);
        EXPECT_FALSE(holdsAVoiceWord(outcome.final->transcript)) << outcome.final->transcript;
        for (const auto& partial : outcome.partials) EXPECT_FALSE(holdsAVoiceWord(partial)) << partial;
    }
}

TEST(SpeechRecognizer, UnsureWordsOfThePhrasesStayOutOfTheTranscript) {
    test::TempDir dir;
    SpeechRecognizer::Options options;
    options.minConfidence = 1.01;  // never sure enough
    auto recognizer = SpeechRecognizer::make("en-US", options);
    ASSERT_TRUE(recognizer);
    auto outcome = recognise(*recognizer, defaultWords, spoken(dir, "roll camera and action", "en-us+f2", 160));
    ASSERT_TRUE(outcome.final);
    const auto& words = outcome.final->words;
    const bool decoded = std::any_of(words.begin(), words.end(), [](const auto& w) { return w.word == "action"; });
    EXPECT_TRUE(decoded);
    EXPECT_FALSE(holdsAVoiceWord(outcome.final->transcript)) << outcome.final->transcript;
    // Other words are kept as decoded.
    EXPECT_FALSE(outcome.final->transcript.empty());
    for (const auto& w : words) {
        EXPECT_GE(w.confidence, 0.0);
        EXPECT_LE(w.confidence, 1.0 + 1e-9);
    }
}

TEST(SpeechRecognizer, SeveralStartAtTheSameMoment) {
    // Recognisers made and started on several threads at once, as the measurements and several windows do:
    // the library's process-wide state (its log file among it) must not deadlock or crash them.
    test::TempDir dir;
    const auto clip = spoken(dir, "action", "en-us+f2", 160);
    constexpr int count = 4;
    std::vector<std::future<std::optional<SpeechRecognizer::Result>>> results;
    std::atomic<int> ready{0};
    for (int i = 0; i < count; ++i) {
        results.push_back(std::async(std::launch::async, [&] {
            ready++;
            while (ready.load() < count) std::this_thread::yield();
            auto recognizer = SpeechRecognizer::make("en-US");
            if (!recognizer) return std::optional<SpeechRecognizer::Result>();
            return recognise(*recognizer, defaultWords, clip).final;
        }));
    }
    std::vector<std::string> transcripts;
    for (auto& result : results) {
        ASSERT_EQ(result.wait_for(std::chrono::seconds(120)), std::future_status::ready);
        const auto final = result.get();
        ASSERT_TRUE(final);
        transcripts.push_back(final->transcript);
    }
    // Each heard the same audio the same way.
    for (const auto& t : transcripts) EXPECT_EQ(t, transcripts.front());
    EXPECT_TRUE(holdsAVoiceWord(transcripts.front())) << transcripts.front();
}

TEST(SpeechRecognizer, CancelledTasksAndHostileInputStayQuiet) {
    auto recognizer = SpeechRecognizer::make("en-US");
    ASSERT_TRUE(recognizer);
    // Phrases that cannot be pronounced are left out; with none left the recognition hears nothing.
    auto outcome = recognise(*recognizer, {"", "123", "!!!", "'''"}, std::vector<std::int16_t>(16000, 0));
    ASSERT_TRUE(outcome.final);
    EXPECT_EQ(outcome.final->transcript, "");
    // Digital silence, twice on one recogniser: the decoder finds short words in it, but nothing was said.
    for (int i = 0; i < 2; ++i) {
        outcome = recognise(*recognizer, {"pemble", "mark", "action", "cut"}, std::vector<std::int16_t>(16000 * 3, 0));
        ASSERT_TRUE(outcome.final);
        EXPECT_EQ(outcome.final->transcript, "");
        EXPECT_TRUE(outcome.partials.empty());
    }
    // Loud noise and clipping.
    std::mt19937 random(3);
    std::vector<std::int16_t> noise(16000 * 3);
    for (auto& s : noise) s = static_cast<std::int16_t>(random());
    outcome = recognise(*recognizer, {"action", "cut"}, noise);
    ASSERT_TRUE(outcome.final);

    // A cancelled task calls its handler no more.
    auto request = std::make_shared<SpeechRecognizer::Request>(std::vector<std::string>{"mark"});
    std::atomic<int> calls{0};
    auto task = recognizer->recognitionTask(request, [&](auto, auto) { ++calls; });
    task->cancel();
    EXPECT_TRUE(task->isCancelled());
    request->append(noise);
    request->endAudio();
    auto after = recognise(*recognizer, {"mark"}, std::vector<std::int16_t>(1600, 0));  // runs after it on the queue
    EXPECT_TRUE(after.final);
    EXPECT_EQ(calls.load(), 0);
}

TEST(SpeechRecognizer, LongRecognitionsEndWithAFinalResult) {
    SpeechRecognizer::Options options;
    options.maxTaskSeconds = 2;
    auto recognizer = SpeechRecognizer::make("en-US", options);
    ASSERT_TRUE(recognizer);
    auto request = std::make_shared<SpeechRecognizer::Request>(std::vector<std::string>{"mark"});
    std::mutex m;
    std::condition_variable cv;
    int finals = 0;
    auto task = recognizer->recognitionTask(request, [&](auto result, auto) {
        std::lock_guard g(m);
        if (result && result->isFinal) ++finals;
        cv.notify_all();
    });
    request->append(std::vector<std::int16_t>(16000 * 3, 0));
    std::unique_lock lock(m);
    EXPECT_TRUE(cv.wait_for(lock, std::chrono::seconds(20), [&] { return finals == 1; }));
    lock.unlock();
    request->endAudio();  // already ended: no second final
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    lock.lock();
    EXPECT_EQ(finals, 1);
}

}  // namespace
}  // namespace morvane
