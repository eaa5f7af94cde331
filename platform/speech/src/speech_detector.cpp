#include "speech_detector.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

namespace morvane {

namespace {

constexpr std::size_t fftSize = 256;
constexpr double sampleRate = 16000;
// Band edges in hertz, closer together where a voice's formants lie.
constexpr std::array<double, 15> bandEdges{150,  300,  450,  600,  800,  1000, 1250, 1500,
                                           1850, 2250, 2750, 3400, 4200, 5200, 7000};
// A frame is speech-like when its bands stand this many decibels above the noise on average; once in speech,
// a little less keeps it there. Noise alone stays below (its frames wander only a little around its mean).
constexpr double onsetScore = 3.0;
constexpr double holdScore = 2.0;
// No band counts for more than this, so that one loud band (a whistle) is not speech.
constexpr double bandCeiling = 30.0;
// Speech-like frames in a row that begin speech: a click or a knock is shorter.
constexpr int onsetFrames = 3;
// Quiet frames still taken as speech: after a long stretch a word's soft end or a stop's closure; after a short
// one (a knock) hardly any.
constexpr int longStretchFrames = 20;
constexpr int longHangover = 10;
constexpr int shortHangover = 2;
// How the noise follows the frames judged quiet (a share per frame), faster down than up, and how fast it may
// rise during speech (decibels per frame).
constexpr double followUp = 0.05;
constexpr double followDown = 0.2;
constexpr double riseInSpeech = 0.03;
constexpr double smoothing = 0.3;
constexpr int learningFrames = 10;
// Below this (a mean square of one, per band's share of the spectrum) nothing is noise: digital quiet.
constexpr double quietestLevel = 1.0;

struct Analysis {
    std::array<double, fftSize> window{};
    std::array<std::complex<double>, fftSize / 2> twiddles{};
    std::array<std::size_t, bandEdges.size()> edgeBins{};
    double scale = 0;  // a bin's squared magnitude as its share of the frame's mean square

    Analysis() {
        double power = 0;
        for (std::size_t i = 0; i < fftSize; ++i) {
            window[i] = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * static_cast<double>(i) / fftSize);
            power += window[i] * window[i];
        }
        for (std::size_t k = 0; k < fftSize / 2; ++k) {
            twiddles[k] = std::polar(1.0, -2 * std::numbers::pi * static_cast<double>(k) / fftSize);
        }
        for (std::size_t b = 0; b < bandEdges.size(); ++b) {
            edgeBins[b] = static_cast<std::size_t>(std::lround(bandEdges[b] * fftSize / sampleRate));
        }
        scale = 2.0 / (fftSize * power);
    }
};

const Analysis& analysis() {
    static const Analysis a;
    return a;
}

void fft(std::array<std::complex<double>, fftSize>& x) {
    const auto& a = analysis();
    for (std::size_t i = 1, j = 0; i < fftSize; ++i) {
        std::size_t bit = fftSize >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(x[i], x[j]);
    }
    for (std::size_t len = 2; len <= fftSize; len <<= 1) {
        const std::size_t step = fftSize / len;
        for (std::size_t i = 0; i < fftSize; i += len) {
            for (std::size_t k = 0; k < len / 2; ++k) {
                const auto t = a.twiddles[k * step] * x[i + k + len / 2];
                x[i + k + len / 2] = x[i + k] - t;
                x[i + k] += t;
            }
        }
    }
}

}  // namespace

std::array<double, SpeechDetector::bandCount> SpeechDetector::bandEnergies(
    std::span<const std::int16_t, frameSamples> frame) {
    const auto& a = analysis();
    std::array<std::complex<double>, fftSize> x{};
    // The window reaches back into the previous frame: 16 ms of it, so that low voices have two periods.
    for (std::size_t i = 0; i < previous_.size(); ++i) x[i] = a.window[i] * previous_[i];
    for (std::size_t i = 0; i < frameSamples; ++i) x[previous_.size() + i] = a.window[previous_.size() + i] * frame[i];
    std::copy(frame.end() - static_cast<std::ptrdiff_t>(previous_.size()), frame.end(), previous_.begin());
    fft(x);
    std::array<double, bandCount> energies{};
    for (std::size_t b = 0; b < bandCount; ++b) {
        double sum = 0;
        for (std::size_t k = a.edgeBins[b]; k < a.edgeBins[b + 1]; ++k) sum += std::norm(x[k]);
        const double floor = quietestLevel * static_cast<double>(a.edgeBins[b + 1] - a.edgeBins[b]) / (fftSize / 2);
        energies[b] = std::max(sum * a.scale, floor);
    }
    return energies;
}

bool SpeechDetector::isSpeech(std::span<const std::int16_t, frameSamples> frame) {
    const auto energies = bandEnergies(frame);
    // The first frame's window is half empty; the next few are taken for noise, their mean its first measure
    // (a single frame of noise may be a few decibels off, and the frames after it would be speech).
    const int seen = framesSeen_++;
    if (seen == 0) return false;
    if (seen == 1) noise_ = smoothed_ = energies;
    const std::size_t slot = static_cast<std::size_t>(seen) % minimumFrames;
    for (std::size_t b = 0; b < bandCount; ++b) {
        smoothed_[b] += smoothing * (energies[b] - smoothed_[b]);
        recent_[b][slot] = smoothed_[b];
        if (seen <= learningFrames) noise_[b] += (energies[b] - noise_[b]) / seen;
    }
    if (seen <= learningFrames) return false;

    double score = 0;
    for (std::size_t b = 0; b < bandCount; ++b) {
        score += std::clamp(10.0 * std::log10(energies[b] / noise_[b]), 0.0, bandCeiling);
    }
    score /= bandCount;
    lastScore_ = score;

    const bool speechLike = score > (inSpeech_ ? holdScore : onsetScore);
    speechRun_ = speechLike ? speechRun_ + 1 : 0;
    if (!inSpeech_ && speechRun_ >= onsetFrames) {
        inSpeech_ = true;
        stretchFrames_ = speechRun_;
    } else if (inSpeech_) {
        ++stretchFrames_;
        if (speechLike) {
            hangover_ = stretchFrames_ >= longStretchFrames ? longHangover : shortHangover;
        } else if (hangover_ > 0) {
            --hangover_;
        } else {
            inSpeech_ = false;
            stretchFrames_ = 0;
        }
    }

    if (!inSpeech_ && !speechLike) {
        for (std::size_t b = 0; b < bandCount; ++b) {
            noise_[b] += (energies[b] < noise_[b] ? followDown : followUp) * (energies[b] - noise_[b]);
        }
    } else {
        // A noise that has become louder for good would otherwise be speech for ever: it rises slowly, and at
        // once to the least of the last 1.5 s.
        const double rise = std::pow(10.0, riseInSpeech / 10.0);
        const bool full = framesSeen_ > static_cast<int>(minimumFrames);
        for (std::size_t b = 0; b < bandCount; ++b) {
            noise_[b] = std::min(noise_[b] * rise, std::max(energies[b], noise_[b]));
            if (full) noise_[b] = std::max(noise_[b], *std::min_element(recent_[b].begin(), recent_[b].end()));
        }
    }
    return inSpeech_;
}

void SpeechDetector::reset() {
    *this = SpeechDetector();
}

}  // namespace morvane
