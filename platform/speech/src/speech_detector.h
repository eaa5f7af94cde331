#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace morvane {

/// Tells speech from background noise, frame by frame (10 ms at 16 kHz), in the noise of a real room as well as
/// in quiet: it follows the noise's spectrum band by band, so that speech is found where it stands above the
/// noise (a voice's formants and hiss above a fan's rumble) rather than by its loudness overall.
///
/// A stretch of speech begins only after a few speech-like frames (a click is not speech) and goes on through a
/// short dip (the quiet closure before a "t"), for longer after a long stretch than after a short one. The noise
/// is learnt from the frames judged quiet; it may rise slowly during speech, so that a noise that gets louder
/// for good is learnt as noise in the end.
class SpeechDetector {
public:
    static constexpr std::size_t frameSamples = 160;

    /// Whether this frame, following the ones given before, belongs to speech.
    bool isSpeech(std::span<const std::int16_t, frameSamples> frame);

    /// Forgets the noise and any speech: the next frames are a new microphone's.
    void reset();

    /// How far the last frame stood above the noise: the mean over the bands of their decibels above it.
    double lastScore() const { return lastScore_; }

private:
    static constexpr std::size_t windowSamples = 256;
    static constexpr std::size_t bandCount = 14;

    std::array<double, bandCount> bandEnergies(std::span<const std::int16_t, frameSamples> frame);

    std::array<std::int16_t, windowSamples - frameSamples> previous_{};
    static constexpr std::size_t minimumFrames = 150;

    std::array<double, bandCount> noise_{};
    // Each band's energy, smoothed over a few frames, over the last 1.5 s: a noise is never below its least
    // (speech is, in its pauses and between its sounds).
    std::array<double, bandCount> smoothed_{};
    std::array<std::array<double, minimumFrames>, bandCount> recent_{};
    int framesSeen_ = 0;
    int speechRun_ = 0;      // speech-like frames in a row
    int stretchFrames_ = 0;  // frames of the current stretch of speech, 0 outside one
    int hangover_ = 0;       // quiet frames still taken as speech
    bool inSpeech_ = false;
    double lastScore_ = 0;
};

}  // namespace morvane
