#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "platform/h264_format.h"

struct AVFrame;

namespace morvane {

/// Decodes a live H.264 stream for immediate display, with the least delay: every access unit that completes a
/// picture gives that picture at once, converted to 32-bit RGB (0xffRRGGBB per pixel, the layout of Qt's
/// `QImage::Format_RGB32`).
///
/// Access units are untimed and carry 4-byte big-endian NAL lengths. The parameter sets of the format that goes
/// with an access unit reach the decoder in-band whenever the format differs from the one it last saw, so a
/// replaced format needs no flush. A decoder that meets damaged input shows nothing of it: it then reports that
/// it needs a flush, and decodes again only after `flush` and a fresh key frame.
///
/// Not thread-safe: one owner thread (or serial queue) at a time.
class H264Decoder {
public:
    /// One decoded picture. The pixels are shared, never copied, and live as long as any copy of the picture.
    struct Picture {
        int width = 0;
        int height = 0;
        int bytesPerLine = 0;
        const std::uint8_t* pixels = nullptr;
        std::shared_ptr<const AVFrame> storage;
    };

    enum class Status {
        unknown,    ///< nothing decoded yet, or flushed
        rendering,  ///< the last access unit decoded cleanly
        failed,     ///< the decoder could not be made
    };

    H264Decoder();
    ~H264Decoder();
    H264Decoder(const H264Decoder&) = delete;
    H264Decoder& operator=(const H264Decoder&) = delete;

    /// Decodes one access unit. Gives the picture it completes, or none (no picture yet, damaged input, or a
    /// decoder that needs a flush or has failed).
    std::optional<Picture> decode(const H264Format& format, std::span<const std::uint8_t> accessUnit);

    Status status() const { return status_; }

    /// True after damaged input: nothing is decoded until `flush`.
    bool requiresFlushToResumeDecoding() const { return requiresFlush_; }

    /// Forgets every reference picture and the failure state; decoding resumes at the next key frame.
    void flush();

private:
    struct State;
    std::unique_ptr<State> state_;
    Status status_ = Status::unknown;
    bool requiresFlush_ = false;
};

}  // namespace morvane
