#pragma once

// Binary application packets: live readings, clock synchronisation and live video. Every packet starts with
// its PacketType byte; offsets below count from that byte. Decoders take the whole packet, check its kind byte
// and its length rule, and return none for anything else.

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/base64.h"
#include "protocol/capture_settings.h"
#include "protocol/packet_type.h"

namespace morvane {

/// Camera to remote, kind 10: 8 bytes of the camera's choosing (at least 9 bytes; extra bytes ignored).
struct ClockPing {
    std::array<std::uint8_t, 8> value{};

    Bytes encode() const;
    static std::optional<ClockPing> decode(ByteView packet);

    friend bool operator==(const ClockPing&, const ClockPing&) = default;
};

/// Remote to camera, kind 11, exactly 17 bytes: the ping's 8 bytes as received, then the remote's clock as an
/// unsigned 64-bit big-endian count of nanoseconds since 1970-01-01 UTC, its clock offset included.
struct ClockPong {
    std::array<std::uint8_t, 8> ping{};
    std::uint64_t nanoseconds = 0;

    Bytes encode() const;
    static std::optional<ClockPong> decode(ByteView packet);

    /// The answer to a ping at the given local time (seconds since 1970) with the remote's clock offset.
    static ClockPong answering(const ClockPing& ping, double unixSeconds, double offsetSeconds);

    friend bool operator==(const ClockPong&, const ClockPong&) = default;
};

/// The clock value of a pong: the time in nanoseconds truncated to unsigned 64 bits, plus the offset in
/// nanoseconds truncated to signed 64 bits, added with wrap-around. Values out of range saturate rather than
/// overflow (a negative time counts as 0).
std::uint64_t clockNanoseconds(double unixSeconds, double offsetSeconds);

/// Kind 12, exactly 65 bytes: 64 bins, darkest first.
struct HistogramPacket {
    std::array<std::uint8_t, 64> bins{};

    Bytes encode() const;
    static std::optional<HistogramPacket> decode(ByteView packet);

    friend bool operator==(const HistogramPacket&, const HistogramPacket&) = default;
};

/// Kind 14, exactly 2 bytes: the microphone level.
struct AudioLevelPacket {
    std::uint8_t level = 0;

    Bytes encode() const;
    static std::optional<AudioLevelPacket> decode(ByteView packet);

    friend bool operator==(const AudioLevelPacket&, const AudioLevelPacket&) = default;
};

/// Kind 15: encoded picture data of any length.
struct LoupePacket {
    Bytes picture;

    Bytes encode() const;
    static std::optional<LoupePacket> decode(ByteView packet);

    friend bool operator==(const LoupePacket&, const LoupePacket&) = default;
};

/// Kind 17, exactly 3 bytes: the camera's roll in tenths of a degree, signed 16-bit little-endian;
/// -32768 means no reading.
struct LevelPacket {
    static constexpr std::int16_t noReading = -32768;

    std::int16_t tenths = noReading;

    /// Rounded to tenths and clamped to what fits; none or NaN gives no reading.
    static LevelPacket fromRoll(std::optional<double> degrees);
    /// The roll in degrees, or none.
    std::optional<double> roll() const;

    Bytes encode() const;
    static std::optional<LevelPacket> decode(ByteView packet);

    friend bool operator==(const LevelPacket&, const LevelPacket&) = default;
};

/// Kind 18: scope kind (1 waveform, 2 parade), width W and height H (1 to 255 each), then W × H intensities row
/// after row from the top. The bytes after the kind byte number exactly 3 + W × H.
struct ScopePacket {
    ScopeKind kind = ScopeKind::waveform;
    std::uint8_t width = 0;
    std::uint8_t height = 0;
    Bytes intensities;

    /// The payload without the packet kind byte; none when the fields break the layout.
    std::optional<Bytes> encodePayload() const;
    std::optional<Bytes> encode() const;
    static std::optional<ScopePacket> decodePayload(ByteView payload);
    static std::optional<ScopePacket> decode(ByteView packet);

    friend bool operator==(const ScopePacket&, const ScopePacket&) = default;
};

/// Kind 1, camera to remote: a count byte, then per set its length as unsigned 32-bit big-endian and its bytes
/// (raw H.264 parameter-set NAL units without start codes). Bytes after the last counted set are ignored.
struct ParameterSetsPacket {
    std::vector<Bytes> sets;

    /// None with more than 255 sets or a set too long for its length field.
    std::optional<Bytes> encode() const;
    /// None for an empty body or a length that runs past the end; a count of 0 gives an empty list.
    static std::optional<ParameterSetsPacket> decode(ByteView packet);

    friend bool operator==(const ParameterSetsPacket&, const ParameterSetsPacket&) = default;
};

/// Kind 2, camera to remote: frame number (unsigned 32-bit big-endian), key-frame flag (exactly 1 means key
/// frame), rotation (low 2 bits: quarter turns), then one access unit of 4-byte big-endian length-prefixed NAL
/// units. The body after the kind byte has at least 7 bytes.
struct FramePacket {
    std::uint32_t number = 0;
    bool keyframe = false;
    std::uint8_t rotation = 0;  ///< 0 to 3
    ByteView accessUnit;        ///< a view into the decoded packet, valid while it lives

    static Bytes encode(std::uint32_t number, bool keyframe, std::uint8_t rotation, ByteView accessUnit);
    static std::optional<FramePacket> decode(ByteView packet);
};

/// Kind 3, remote to camera, exactly 5 bytes: the acknowledged frame number as received.
struct AckPacket {
    std::uint32_t frameNumber = 0;

    Bytes encode() const;
    static std::optional<AckPacket> decode(ByteView packet);

    friend bool operator==(const AckPacket&, const AckPacket&) = default;
};

/// Kind 4, remote to camera: the single byte 4, built once and shared.
const Bytes& keyframeRequestPacket();
bool isKeyframeRequestPacket(ByteView packet);

}  // namespace morvane
