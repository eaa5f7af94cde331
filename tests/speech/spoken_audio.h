#pragma once

// Speech for tests: espeak-ng or festival speaks a text into a WAV file in a temporary folder, which is read back
// as samples, as a microphone would have heard it.

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "platform/speech_audio_converter.h"

namespace morvane::testing {

struct SpokenAudio {
    std::vector<std::int16_t> samples;  // mono
    int sampleRate = 0;

    SpeechAudioConverter::Format format() const { return {SpeechAudioConverter::SampleType::int16, 1, sampleRate}; }
    std::span<const std::byte> bytes() const { return std::as_bytes(std::span(samples)); }

    /// Silence of the given length at this audio's rate.
    void appendSilence(double seconds) {
        samples.insert(samples.end(), static_cast<std::size_t>(seconds * sampleRate), 0);
    }
    void append(const SpokenAudio& other) { samples.insert(samples.end(), other.samples.begin(), other.samples.end()); }
    double seconds() const { return sampleRate ? static_cast<double>(samples.size()) / sampleRate : 0; }
};

/// Reads a 16-bit mono PCM WAV file; none for anything else.
inline std::optional<SpokenAudio> readWav(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> data((std::istreambuf_iterator<char>(in)), {});
    auto u32 = [&](std::size_t at) {
        std::uint32_t v;
        std::memcpy(&v, data.data() + at, 4);
        return v;
    };
    auto u16 = [&](std::size_t at) {
        std::uint16_t v;
        std::memcpy(&v, data.data() + at, 2);
        return v;
    };
    if (data.size() < 12 || std::memcmp(data.data(), "RIFF", 4) != 0 || std::memcmp(data.data() + 8, "WAVE", 4) != 0) {
        return std::nullopt;
    }
    SpokenAudio audio;
    std::size_t p = 12;
    while (p + 8 <= data.size()) {
        const std::uint32_t size = u32(p + 4);
        const std::size_t body = p + 8;
        if (std::memcmp(data.data() + p, "fmt ", 4) == 0 && body + 16 <= data.size()) {
            if (u16(body) != 1 || u16(body + 2) != 1 || u16(body + 14) != 16) return std::nullopt;
            audio.sampleRate = static_cast<int>(u32(body + 4));
        } else if (std::memcmp(data.data() + p, "data", 4) == 0) {
            // espeak-ng writing to a file leaves the data size open; take what is there.
            const std::size_t n = std::min<std::size_t>(size, data.size() - body) / 2;
            audio.samples.resize(n);
            std::memcpy(audio.samples.data(), data.data() + body, n * 2);
            break;
        }
        p = body + size + (size & 1);
    }
    if (audio.sampleRate <= 0 || audio.samples.empty()) return std::nullopt;
    return audio;
}

/// espeak-ng speaking `text` with a voice ("en-us+f3") and a rate in words per minute.
inline std::optional<SpokenAudio> speak(const std::filesystem::path& folder, const std::string& text,
                                        const std::string& voice = "en-us+f3", int rate = 150) {
    if (text.find('\'') != std::string::npos || voice.find('\'') != std::string::npos) return std::nullopt;
    static int counter = 0;
    const auto file = folder / ("spoken-" + std::to_string(++counter) + ".wav");
    const std::string command = "espeak-ng -v '" + voice + "' -s " + std::to_string(rate) + " -w '" + file.string() +
                                "' '" + text + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) return std::nullopt;
    return readWav(file);
}

/// festival speaking `text` with one of its US-English voices: "slt" (HTS, a woman's) or "kal" (diphones, a
/// man's), at 16 kHz.
inline std::optional<SpokenAudio> speakWithFestival(const std::filesystem::path& folder, const std::string& text,
                                                    const std::string& voice = "slt") {
    if (text.find_first_of("\"\\") != std::string::npos || (voice != "slt" && voice != "kal")) return std::nullopt;
    static int counter = 0;
    const auto stem = folder / ("festival-" + std::to_string(++counter));
    {
        std::ofstream script(stem.string() + ".scm");
        script << (voice == "slt" ? "(voice_cmu_us_slt_arctic_hts)\n" : "(voice_kal_diphone)\n")
               << "(set! utt (SynthText \"" << text << "\"))\n(utt.wave.resample utt 16000)\n(utt.save.wave utt \""
               << stem.string() << ".wav\" 'riff)\n";
    }
    const std::string command = "festival -b '" + stem.string() + ".scm' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) return std::nullopt;
    return readWav(stem.string() + ".wav");
}

/// The mean square of the samples that are not quiet (speech's own level, its pauses left out).
inline double speechPower(const std::vector<std::int16_t>& samples) {
    double power = 0;
    std::size_t loud = 0;
    for (auto s : samples) {
        if (std::abs(s) <= 300) continue;
        power += static_cast<double>(s) * s;
        ++loud;
    }
    return loud ? power / static_cast<double>(loud) : 0;
}

/// Pink noise (equal power in every octave, as most room noise roughly is), with a mean square of one: the sum
/// of sixteen white sources each held twice as long as the one before (Voss and McCartney's way) and one
/// changing every sample.
inline std::vector<double> pinkNoise(std::size_t count, std::uint32_t seed) {
    std::mt19937 random(seed);
    std::normal_distribution<double> white;
    std::vector<double> rows(16, 0.0), noise(count);
    double sum = 0, power = 0;
    for (std::size_t i = 0; i < count; ++i) {
        // The row of the lowest bit that changes at this sample.
        const auto row = static_cast<std::size_t>(std::countr_zero(static_cast<std::uint64_t>(i + 1)));
        if (row < rows.size()) {
            sum -= rows[row];
            rows[row] = white(random);
            sum += rows[row];
        }
        noise[i] = sum + white(random);
        power += noise[i] * noise[i];
    }
    const double gain = power > 0 ? std::sqrt(static_cast<double>(count) / power) : 0;
    for (auto& n : noise) n *= gain;
    return noise;
}

/// Adds pink noise at `snr` decibels below `power` (a mean square) to the samples.
inline void addNoise(std::vector<std::int16_t>& samples, double power, double snr, std::uint32_t seed) {
    const auto noise = pinkNoise(samples.size(), seed);
    const double gain = std::sqrt(power / std::pow(10.0, snr / 10.0));
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] =
            static_cast<std::int16_t>(std::lround(std::clamp(samples[i] + gain * noise[i], -32768.0, 32767.0)));
    }
}

}  // namespace morvane::testing
