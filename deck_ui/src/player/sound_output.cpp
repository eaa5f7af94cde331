#include "deck_ui/player/sound_output.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QIODevice>
#include <QMediaDevices>

#include <algorithm>
#include <cstring>

#include "platform/program_renderer.h"

namespace morvane {

// MARK: Feed

SoundFeed::SoundFeed(std::size_t capacityFrames) : ring_(std::max<std::size_t>(capacityFrames, 1) * channels) {}

std::size_t SoundFeed::room() const {
    std::lock_guard<std::mutex> hold(lock_);
    return ring_.size() / channels - size_;
}

std::size_t SoundFeed::write(const float* interleaved, std::size_t frames) {
    std::lock_guard<std::mutex> hold(lock_);
    const std::size_t capacity = ring_.size() / channels;
    const std::size_t n = std::min(frames, capacity - size_);
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t at = (head_ + size_ + i) % capacity;
        ring_[at * 2] = interleaved[i * 2];
        ring_[at * 2 + 1] = interleaved[i * 2 + 1];
    }
    size_ += n;
    return n;
}

std::size_t SoundFeed::read(float* interleaved, std::size_t frames) {
    std::lock_guard<std::mutex> hold(lock_);
    const std::size_t capacity = ring_.size() / channels;
    const std::size_t n = std::min(frames, size_);
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t at = (head_ + i) % capacity;
        interleaved[i * 2] = ring_[at * 2];
        interleaved[i * 2 + 1] = ring_[at * 2 + 1];
    }
    head_ = (head_ + n) % capacity;
    size_ -= n;
    read_ += std::int64_t(n);
    return n;
}

void SoundFeed::clear() {
    std::lock_guard<std::mutex> hold(lock_);
    head_ = 0;
    size_ = 0;
    read_ = 0;
}

// MARK: Qt output

namespace {

// The sink pulls whole frames from the feed; what the feed lacks is left for the next pull.
class FeedDevice : public QIODevice {
public:
    explicit FeedDevice(SoundFeed& feed) : feed_(feed) {}
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char* data, qint64 maxSize) override {
        const std::size_t frameBytes = sizeof(float) * SoundFeed::channels;
        const std::size_t frames = std::size_t(std::max<qint64>(maxSize, 0)) / frameBytes;
        if (frames == 0) return 0;
        std::vector<float> buffer(frames * SoundFeed::channels);
        const std::size_t n = feed_.read(buffer.data(), frames);
        std::memcpy(data, buffer.data(), n * frameBytes);
        return qint64(n * frameBytes);
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    SoundFeed& feed_;
};

}  // namespace

QtSoundOutput::QtSoundOutput() = default;

QtSoundOutput::~QtSoundOutput() {
    stop();
}

bool QtSoundOutput::start(SoundFeed& feed) {
    stop();
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull()) return false;
    QAudioFormat format;
    format.setSampleRate(ProgramRenderer::sampleRate);
    format.setChannelCount(SoundFeed::channels);
    format.setSampleFormat(QAudioFormat::Float);
    if (!device.isFormatSupported(format)) return false;
    sink_ = std::make_unique<QAudioSink>(device, format);
    // About a tenth of a second between the program and the ear keeps the picture close to its sound.
    sink_->setBufferSize(ProgramRenderer::sampleRate / 10 * int(sizeof(float)) * SoundFeed::channels);
    device_ = std::make_unique<FeedDevice>(feed);
    device_->open(QIODevice::ReadOnly);
    sink_->start(device_.get());
    if (sink_->error() != QAudio::NoError) {
        stop();
        return false;
    }
    return true;
}

void QtSoundOutput::stop() {
    if (sink_) sink_->stop();
    sink_.reset();
    device_.reset();
}

double QtSoundOutput::latency() const {
    if (!sink_) return 0;
    const double bytesPerSecond = double(ProgramRenderer::sampleRate) * sizeof(float) * SoundFeed::channels;
    return double(sink_->bufferSize()) / bytesPerSecond;
}

}  // namespace morvane
