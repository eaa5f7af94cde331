#include "speech_detector.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <random>

#include "platform/speech_recognizer.h"
#include "spoken_audio.h"
#include "temp_dir.h"

using namespace morvane;

namespace {

constexpr std::size_t frame = SpeechDetector::frameSamples;
constexpr std::size_t second = 100;  // frames

/// The detector's verdict on each frame of the audio.
std::vector<bool> verdicts(const std::vector<std::int16_t>& audio) {
    SpeechDetector detector;
    std::vector<bool> out;
    for (std::size_t at = 0; at + frame <= audio.size(); at += frame) {
        out.push_back(detector.isSpeech(std::span<const std::int16_t, frame>(audio.data() + at, frame)));
    }
    return out;
}

/// Stretches of speech as the recogniser cuts them: speech frames with gaps under 0.3 s joined.
std::vector<std::pair<std::size_t, std::size_t>> stretches(const std::vector<bool>& speech) {
    std::vector<std::pair<std::size_t, std::size_t>> out;
    for (std::size_t i = 0; i < speech.size(); ++i) {
        if (!speech[i]) continue;
        if (!out.empty() && i - out.back().second <= 30) {
            out.back().second = i + 1;
        } else {
            out.push_back({i, i + 1});
        }
    }
    return out;
}

std::size_t count(const std::vector<bool>& speech, std::size_t from, std::size_t to) {
    std::size_t n = 0;
    for (std::size_t i = from; i < std::min(to, speech.size()); ++i) n += speech[i];
    return n;
}

/// Festival's slt saying the text, with a second of quiet before and after.
struct Spoken {
    std::vector<std::int16_t> samples;
    std::size_t firstFrame = 0, lastFrame = 0;  // of the speech's loud samples
    double power = 0;
};

Spoken said(const test::TempDir& dir, const std::string& text) {
    auto audio = morvane::testing::speakWithFestival(dir.path(), text, "slt");
    if (!audio) throw std::runtime_error("festival failed");
    Spoken out;
    out.samples.assign(16000, 0);
    out.samples.insert(out.samples.end(), audio->samples.begin(), audio->samples.end());
    out.samples.insert(out.samples.end(), 16000, 0);
    std::size_t first = out.samples.size(), last = 0;
    for (std::size_t i = 0; i < out.samples.size(); ++i) {
        if (std::abs(out.samples[i]) > 300) first = std::min(first, i), last = i;
    }
    out.firstFrame = first / frame;
    out.lastFrame = last / frame;
    out.power = morvane::testing::speechPower(audio->samples);
    return out;
}

}  // namespace

TEST(SpeechDetector, FindsSpeechWholeInPinkNoise) {
    test::TempDir dir;
    const auto sentence = said(dir, "okay everybody quiet please, cut on my signal");
    const auto word = said(dir, "mark");
    const struct {
        const char* name;
        const Spoken& speech;
        double snr;  // below 0: no noise
    } cases[] = {
        {"sentence, quiet room", sentence, -1}, {"sentence, 20 dB", sentence, 20}, {"sentence, 10 dB", sentence, 10},

        {"word, quiet room", word, -1},         {"word, 20 dB", word, 20},         {"word, 10 dB", word, 10},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto audio = c.speech.samples;
        if (c.snr >= 0) morvane::testing::addNoise(audio, c.speech.power, c.snr, 5);
        const auto speech = verdicts(audio);
        // One stretch, holding the whole of the speech and not much more.
        const auto found = stretches(speech);
        ASSERT_EQ(found.size(), 1u);
        // A soft start drowned in the noise ("m") may be found late: the recogniser decodes from 0.25 s before.
        EXPECT_LE(found[0].first, c.speech.firstFrame + 10);
        EXPECT_GE(found[0].second, c.speech.lastFrame - 5);
        EXPECT_GE(found[0].first + 25, c.speech.firstFrame);
        EXPECT_LE(found[0].second, c.speech.lastFrame + 30);
        // And most of its frames as speech, not a scatter of pieces.
        EXPECT_GE(count(speech, c.speech.firstFrame, c.speech.lastFrame),
                  (c.speech.lastFrame - c.speech.firstFrame) * 6 / 10);
    }
}

TEST(SpeechDetector, TakesNoiseAndKnocksForQuiet) {
    std::mt19937 random(3);
    auto noiseOf = [](double rms, std::size_t frames, std::uint32_t seed) {
        std::vector<std::int16_t> audio(frames * frame, 0);
        morvane::testing::addNoise(audio, rms * rms, 0, seed);
        return audio;
    };
    auto withBurst = [&](std::vector<std::int16_t> audio, std::size_t at, std::size_t length, double peak) {
        // A knock: a loud burst dying away within its length.
        std::normal_distribution<double> white;
        for (std::size_t i = 0; i < length; ++i) {
            const double v = audio[at + i] + peak * std::exp(-5.0 * i / length) * white(random);
            audio[at + i] = static_cast<std::int16_t>(std::clamp(v, -32768.0, 32767.0));
        }
        return audio;
    };
    auto louderFrom = [](std::vector<std::int16_t> audio, std::size_t at, double gain) {
        for (std::size_t i = at; i < audio.size(); ++i) {
            audio[i] = static_cast<std::int16_t>(std::clamp(audio[i] * gain, -32768.0, 32767.0));
        }
        return audio;
    };
    const struct {
        const char* name;
        std::vector<std::int16_t> audio;
        std::size_t most;           // frames of speech at most
        std::size_t quietFrom = 0;  // no speech from this frame on
    } cases[] = {
        {"digital quiet", std::vector<std::int16_t>(3 * second * frame, 0), 0},
        {"faint room", noiseOf(20, 3 * second, 1), 0},
        {"loud room", noiseOf(3000, 3 * second, 2), 0},
        {"click", withBurst(noiseOf(20, 3 * second, 3), 100 * frame, 16, 20000), 0},
        {"knock in a loud room", withBurst(noiseOf(2000, 3 * second, 4), 100 * frame, 800, 30000), 20},
        {"door slam in a quiet room", withBurst(noiseOf(20, 3 * second, 5), 100 * frame, 1600, 25000), 20},
        // A fan switched on for good is noise soon after, not endless speech.
        {"room getting louder", louderFrom(noiseOf(100, 8 * second, 6), 2 * second * frame, 4), 600, 6 * second},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto speech = verdicts(c.audio);
        EXPECT_LE(count(speech, 0, speech.size()), c.most);
        if (c.quietFrom) {
            EXPECT_EQ(count(speech, c.quietFrom, speech.size()), 0u);
        }
    }
}

TEST(SpeechDetector, RecogniserDecodesSpeechInNoiseWholeAndNoiseNotAtAll) {
    test::TempDir dir;
    const auto sentence = said(dir, "okay everybody, action on my signal");
    auto inNoise = sentence.samples;
    morvane::testing::addNoise(inNoise, sentence.power, 20, 11);
    std::vector<std::int16_t> roomOnly(sentence.samples.size(), 0);
    morvane::testing::addNoise(roomOnly, sentence.power, 20, 12);
    const struct {
        const char* name;
        const std::vector<std::int16_t>& audio;
        std::size_t stretches;  // partial results: one for each stretch of speech decoded
        bool action;
    } cases[] = {
        {"sentence in 20 dB pink noise", inNoise, 1, true},
        {"the same noise alone", roomOnly, 0, false},
    };
    auto recognizer = SpeechRecognizer::make("en-US");
    ASSERT_TRUE(recognizer);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto request = std::make_shared<SpeechRecognizer::Request>(std::vector<std::string>{"action", "cut"});
        std::mutex m;
        std::condition_variable cv;
        std::size_t partials = 0, words = 0;
        std::optional<SpeechRecognizer::Result> final;
        auto task = recognizer->recognitionTask(request, [&](auto result, auto) {
            std::lock_guard g(m);
            // A stretch's end adds its words; a report before a pause adds none.
            if (result && !result->isFinal && result->words.size() > words) ++partials, words = result->words.size();
            if (result && result->isFinal) final = result;
            cv.notify_all();
        });
        for (std::size_t at = 0; at < c.audio.size(); at += 1600) {
            request->append(std::span(c.audio).subspan(at, std::min<std::size_t>(1600, c.audio.size() - at)));
        }
        request->endAudio();
        std::unique_lock lock(m);
        ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(60), [&] { return final.has_value(); }));
        EXPECT_EQ(partials, c.stretches);
        EXPECT_EQ(final->transcript.find("action") != std::string::npos, c.action) << final->transcript;
    }
}
