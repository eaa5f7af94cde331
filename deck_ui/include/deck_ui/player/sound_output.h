#pragma once

#include <QObject>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

class QAudioSink;
class QIODevice;

namespace morvane {

/// Interleaved stereo float samples on their way from the program's sound renderer to the sound output: one
/// producer thread writes, the output's thread reads.
class SoundFeed {
public:
    static constexpr int channels = 2;

    explicit SoundFeed(std::size_t capacityFrames);

    /// Frames that fit now.
    std::size_t room() const;
    /// Writes up to `frames` frames; returns how many fit.
    std::size_t write(const float* interleaved, std::size_t frames);
    /// Reads up to `frames` frames; returns how many there were.
    std::size_t read(float* interleaved, std::size_t frames);
    /// Drops everything buffered and restarts the count of frames read.
    void clear();
    /// Frames read since the last `clear`.
    std::int64_t framesRead() const { return read_.load(); }

private:
    mutable std::mutex lock_;
    std::vector<float> ring_;
    std::size_t head_ = 0;  // next frame to read
    std::size_t size_ = 0;  // frames buffered
    std::atomic<std::int64_t> read_{0};
};

/// Where the preview's sound goes. Used on the main thread.
class SoundOutput {
public:
    virtual ~SoundOutput() = default;
    /// Starts pulling samples (48 kHz stereo float) from the feed; false when there is no sound device.
    virtual bool start(SoundFeed& feed) = 0;
    virtual void stop() = 0;
    /// Seconds of sound pulled from the feed that have not been heard yet.
    virtual double latency() const = 0;
};

/// Plays through Qt Multimedia's audio sink on the default output device.
class QtSoundOutput : public SoundOutput {
public:
    QtSoundOutput();
    ~QtSoundOutput() override;
    bool start(SoundFeed& feed) override;
    void stop() override;
    double latency() const override;

private:
    std::unique_ptr<QAudioSink> sink_;
    std::unique_ptr<QIODevice> device_;
};

}  // namespace morvane
