// Measures the voice words on synthetic speech: for each spotting threshold (decades per phone), how many
// spoken words are found and how many sentences and near-miss words without them fire. The thresholds of the
// recogniser were chosen from this program's output.
//
// Usage: bench_voice_words [decades per phone ...]   (default: the recogniser's own threshold only)

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>

#include "platform/speech_recognizer.h"
#include "spoken_audio.h"
#include "temp_dir.h"

using namespace morvane;

namespace {

struct Clip {
    std::string label;
    std::string expected;  // the word it holds, or empty
    std::vector<std::int16_t> samples;
};

std::string recognise(SpeechRecognizer& recognizer, const std::vector<std::string>& words, const Clip& clip) {
    auto request = std::make_shared<SpeechRecognizer::Request>(words);
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    std::string transcript;
    auto task = recognizer.recognitionTask(request, [&](auto result, auto error) {
        std::lock_guard g(m);
        if (error || (result && result->isFinal)) {
            if (result) transcript = result->transcript;
            done = true;
            cv.notify_all();
        }
    });
    request->append(clip.samples);
    request->endAudio();
    std::unique_lock lock(m);
    cv.wait_for(lock, std::chrono::seconds(30), [&] { return done; });
    return transcript;
}

}  // namespace

int main(int argc, char** argv) {
    test::TempDir dir;
    const std::vector<std::string> words{"pemble", "mark", "action", "cut"};
    const std::vector<std::string> voices{"en-us", "en-us+f3", "en-us+f4", "en-us+m3", "en-gb"};
    const std::vector<int> rates{130, 170};
    const std::vector<std::string> sentences{"The shutter on this camera is fast",
                                             "I shudder when it is cold outside",
                                             "The cat sat on a cup of coffee",
                                             "Park the car by the marsh",
                                             "Actually the accident happened over there",
                                             "The pebble in the temple looked humble",
                                             "Please remember to bring the camera tomorrow",
                                             "Good morning, how are you doing today",
                                             "Her passion for fashion was obvious",
                                             "Come back when the march is over",
                                             "Look at this beautiful view of the lake",
                                             "The weather forecast says it will rain later",
                                             "We need more light on the left side",
                                             "Can you move a little closer please"};
    const std::vector<std::string> nearMisses{"shudder", "cat", "park", "pebble", "fashion", "come", "march"};

    std::vector<Clip> clips;
    auto add = [&](const std::string& text, const std::string& expected, const std::string& voice, int rate) {
        auto audio = testing::speak(dir.path(), text, voice, rate);
        if (!audio) {
            std::fprintf(stderr, "espeak-ng failed\n");
            std::exit(1);
        }
        SpeechAudioConverter converter(audio->format());
        std::vector<std::int16_t> silence(8000, 0);
        Clip clip{text + " / " + voice + " " + std::to_string(rate), expected, silence};
        auto converted = converter.convert(audio->bytes());
        clip.samples.insert(clip.samples.end(), converted.begin(), converted.end());
        clip.samples.insert(clip.samples.end(), silence.begin(), silence.end());
        clips.push_back(std::move(clip));
    };
    for (const auto& voice : voices) {
        for (int rate : rates) {
            for (const auto& w : words) add(w, w, voice, rate);
            for (const auto& s : sentences) add(s, "", voice, rate);
            for (const auto& s : nearMisses) add(s, "", voice, rate);
        }
    }

    std::vector<double> decades;
    for (int i = 1; i < argc; ++i) decades.push_back(std::atof(argv[i]));
    if (decades.empty()) decades.push_back(0);  // 0: the recogniser's own thresholds

    for (double perPhone : decades) {
        SpeechRecognizer::Options options;
        if (perPhone > 0) options.threshold = [perPhone](int phones) { return std::pow(10.0, -perPhone * phones); };
        auto recognizer = SpeechRecognizer::make("en-US", options);
        if (!recognizer) return 1;
        std::map<std::string, int> found, missed, falseHits;
        std::vector<std::string> misses, alarms;
        for (const auto& clip : clips) {
            const std::string heard = recognise(*recognizer, words, clip);
            if (!clip.expected.empty()) {
                if (heard == clip.expected) {
                    ++found[clip.expected];
                } else {
                    ++missed[clip.expected];
                    misses.push_back(clip.label + " -> [" + heard + "]");
                }
            } else if (!heard.empty()) {
                ++falseHits[heard];
                alarms.push_back(clip.label + " -> [" + heard + "]");
            }
        }
        std::printf("== %s\n", perPhone > 0 ? ("threshold 1e-" + std::to_string(perPhone) + " per phone").c_str()
                                            : "recogniser's thresholds");
        for (const auto& w : words) std::printf("  %-7s found %d, missed %d\n", w.c_str(), found[w], missed[w]);
        std::printf("  false hits on %zu clips without a word:", alarms.size());
        for (const auto& [w, n] : falseHits) std::printf(" %s=%d", w.c_str(), n);
        std::printf("\n");
        for (const auto& m : misses) std::printf("    missed: %s\n", m.c_str());
        for (const auto& a : alarms) std::printf("    false:  %s\n", a.c_str());
    }
    return 0;
}
