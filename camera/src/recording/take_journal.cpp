#include "camera/take_journal.h"

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <functional>
#include <sstream>
#include <type_traits>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mem.h>
}

namespace morvane {

namespace {

constexpr char kJournalMagic[7] = {'M', 'R', 'J', 'O', 'U', 'R', 'N'};
constexpr char kJournalVersion = '3';
constexpr char kSecondJournalVersion = '2';  // the same without the camera's name
constexpr char kFirstJournalVersion = '1';   // the same without the camera's identity or name
constexpr std::size_t kMaxCamera = 1024;
constexpr std::size_t kRecordSize = 40;
constexpr std::size_t kMaxStreams = 4;
constexpr std::size_t kMaxExtradata = 1 << 20;
// The longest header the layout allows: every track with the most extradata.
constexpr std::size_t kMaxHeader = 64 + 2 * (2 + kMaxCamera) + kMaxStreams * (27 * 8 + 20 + kMaxExtradata);

struct ByteWriter {
    std::string out;
    template <typename T>
    void put(T value) {
        out.append(reinterpret_cast<const char*>(&value), sizeof value);
    }
};

struct ByteReader {
    std::string_view in;
    bool ok = true;
    template <typename T>
    T get() {
        T value{};
        if (!ok || in.size() < sizeof value) {
            ok = false;
            return value;
        }
        std::memcpy(&value, in.data(), sizeof value);
        in.remove_prefix(sizeof value);
        return value;
    }
};

// The type a field is written as.
template <typename T>
struct As {
    using type = T;
};

// Every field of the codec parameters that a movie's sample description is made of, in the journal's order.
template <typename F>
void eachCodecField(AVCodecParameters& p, F&& f) {
    f(p.codec_type), f(p.codec_id), f(p.codec_tag), f(p.format), f(p.bit_rate), f(p.bits_per_coded_sample);
    f(p.bits_per_raw_sample), f(p.profile), f(p.level), f(p.width), f(p.height), f(p.sample_aspect_ratio.num);
    f(p.sample_aspect_ratio.den), f(p.field_order), f(p.color_range), f(p.color_primaries), f(p.color_trc);
    f(p.color_space), f(p.chroma_location), f(p.video_delay), f(p.ch_layout.nb_channels), f(p.sample_rate);
    f(p.block_align), f(p.frame_size), f(p.initial_padding), f(p.trailing_padding), f(p.seek_preroll);
}

// The header's fields before its tracks, in the journal's order, for the writer and the reader alike.
template <typename F>
void eachHeaderField(JournalHeader& h, F&& f) {
    f(h.startDate, As<double>{}), f(h.startFrame, As<std::int64_t>{}), f(h.frameRate, As<std::int32_t>{});
    f(h.ntsc, As<std::uint8_t>{}), f(h.timecode, As<std::uint8_t>{}), f(h.rotation, As<double>{});
    f(h.videoTimescale, As<std::int32_t>{}), f(h.dataStart, As<std::int64_t>{});
}

// A track's fields before its extradata.
template <typename F>
void eachStreamField(JournalStream& s, F&& f) {
    eachCodecField(*s.parameters, [&](auto& field) { f(field, As<std::int64_t>{}); });
    f(s.timeBase.num, As<std::int32_t>{}), f(s.timeBase.den, As<std::int32_t>{});
    f(s.frameRate.num, As<std::int32_t>{}), f(s.frameRate.den, As<std::int32_t>{});
}

// A record's fields; `key` and `zero` as they lie (0 or 1, and 0).
template <typename F>
void eachRecordField(JournalSample& s, std::uint8_t& key, std::uint16_t& zero, F&& f) {
    f(s.stream, As<std::uint8_t>{}), f(key, As<std::uint8_t>{}), f(zero, As<std::uint16_t>{});
    f(s.size, As<std::int32_t>{}), f(s.offset, As<std::int64_t>{}), f(s.pts, As<std::int64_t>{});
    f(s.dts, As<std::int64_t>{}), f(s.duration, As<std::int64_t>{});
}

auto writeTo(ByteWriter& w) {
    return [&w](auto& field, auto as) { w.put(static_cast<typename decltype(as)::type>(field)); };
}

auto readFrom(ByteReader& r) {
    return [&r](auto& field, auto as) {
        field = static_cast<std::remove_reference_t<decltype(field)>>(r.template get<typename decltype(as)::type>());
    };
}

bool plausible(const AVCodecParameters& p) {
    if (!avcodec_descriptor_get(p.codec_id)) return false;
    if (p.codec_type == AVMEDIA_TYPE_VIDEO)
        return p.width >= 2 && p.height >= 2 && p.width <= 16384 && p.height <= 16384;
    if (p.codec_type == AVMEDIA_TYPE_AUDIO)
        return p.sample_rate > 0 && p.sample_rate <= 768000 && p.ch_layout.nb_channels >= 1 &&
               p.ch_layout.nb_channels <= 8;
    return false;
}

// Whether a value is one of an enumeration of the codec parameters, before a field is given it: for tracks and
// codecs, one the muxer can take.
template <typename E>
bool known(std::int64_t v) {
    if constexpr (std::is_same_v<E, AVMediaType>) return v == AVMEDIA_TYPE_VIDEO || v == AVMEDIA_TYPE_AUDIO;
    if constexpr (std::is_same_v<E, AVCodecID>) return v > AV_CODEC_ID_NONE && v < AV_CODEC_ID_WRAPPED_AVFRAME;
    if constexpr (std::is_same_v<E, AVFieldOrder>) return v >= 0 && v <= AV_FIELD_BT;
    if constexpr (std::is_same_v<E, AVColorRange>) return v >= 0 && v < AVCOL_RANGE_NB;
    if constexpr (std::is_same_v<E, AVColorPrimaries>) return v >= 0 && v < AVCOL_PRI_NB;
    if constexpr (std::is_same_v<E, AVColorTransferCharacteristic>) return v >= 0 && v < AVCOL_TRC_NB;
    if constexpr (std::is_same_v<E, AVColorSpace>) return v >= 0 && v < AVCOL_SPC_NB;
    if constexpr (std::is_same_v<E, AVChromaLocation>) return v >= 0 && v < AVCHROMA_LOC_NB;
    return false;
}

// A header's bytes (after its length), read whole: none when any field is not as the layout has it, or bytes are
// left over.
std::optional<JournalHeader> parseHeader(std::string_view bytes, char version) {
    ByteReader r{bytes};
    JournalHeader h;
    eachHeaderField(h, readFrom(r));
    const auto text = [&](std::string& into) {
        const auto length = r.get<std::uint16_t>();
        if (!r.ok || length > kMaxCamera || length > r.in.size()) return false;
        into.assign(r.in.substr(0, length));
        r.in.remove_prefix(length);
        return true;
    };
    if (version != kFirstJournalVersion && !text(h.camera)) return std::nullopt;
    if (version == kJournalVersion && !text(h.cameraName)) return std::nullopt;
    const auto count = r.get<std::uint8_t>();
    if (!r.ok || count < 1 || count > kMaxStreams || h.dataStart <= 0 || h.videoTimescale <= 0 ||
        !std::isfinite(h.startDate) || !std::isfinite(h.rotation) || h.frameRate < 1 || h.frameRate > 1000)
        return std::nullopt;
    for (int i = 0; i < count; ++i) {
        JournalStream stream;
        if (!stream.parameters) return std::nullopt;
        AVCodecParameters& p = *stream.parameters;
        eachStreamField(stream, [&](auto& field, auto as) {
            using Field = std::remove_reference_t<decltype(field)>;
            const auto value = r.template get<typename decltype(as)::type>();
            if constexpr (std::is_enum_v<Field>) {
                if (!known<Field>(value)) r.ok = false;
            }
            if (r.ok) field = static_cast<Field>(value);
        });
        const int channels = p.ch_layout.nb_channels;
        p.ch_layout = AVChannelLayout{};
        if (p.codec_type == AVMEDIA_TYPE_AUDIO && channels >= 1 && channels <= 8)
            av_channel_layout_default(&p.ch_layout, channels);
        const auto extradata = r.get<std::uint32_t>();
        if (!r.ok || !plausible(p) || stream.timeBase.num <= 0 || stream.timeBase.den <= 0 ||
            extradata > kMaxExtradata || extradata > r.in.size())
            return std::nullopt;
        if (extradata) {
            p.extradata = static_cast<std::uint8_t*>(av_mallocz(extradata + AV_INPUT_BUFFER_PADDING_SIZE));
            if (!p.extradata) return std::nullopt;
            std::memcpy(p.extradata, r.in.data(), extradata);
            p.extradata_size = static_cast<int>(extradata);
            r.in.remove_prefix(extradata);
        }
        h.streams.push_back(std::move(stream));
    }
    if (!r.in.empty() || h.streams[0].parameters->codec_type != AVMEDIA_TYPE_VIDEO) return std::nullopt;
    return h;
}

}  // namespace

std::string journalHeaderBytes(JournalHeader& h) {
    ByteWriter w;
    eachHeaderField(h, writeTo(w));
    for (const std::string& text : {std::cref(h.camera), std::cref(h.cameraName)}) {
        const std::string_view field = std::string_view(text).substr(0, kMaxCamera);
        w.put(std::uint16_t(field.size()));
        w.out.append(field);
    }
    w.put(std::uint8_t(h.streams.size()));
    for (auto& stream : h.streams) {
        eachStreamField(stream, writeTo(w));
        const auto* p = stream.parameters.get();
        w.put(std::uint32_t(p->extradata_size));
        w.out.append(reinterpret_cast<const char*>(p->extradata), static_cast<std::size_t>(p->extradata_size));
    }
    std::string bytes(kJournalMagic, sizeof kJournalMagic);
    bytes += kJournalVersion;
    const auto length = static_cast<std::uint32_t>(w.out.size());
    bytes.append(reinterpret_cast<const char*>(&length), sizeof length);
    return bytes + w.out;
}

std::string journalRecordBytes(const JournalSample& sample) {
    ByteWriter w;
    JournalSample s = sample;
    std::uint8_t key = s.key ? 1 : 0;
    std::uint16_t zero = 0;
    eachRecordField(s, key, zero, writeTo(w));
    return std::move(w.out);
}

JournalReader::JournalReader(std::istream& in) : in_(in) {
    char start[sizeof kJournalMagic + 1 + 4];
    if (!in_.read(start, sizeof start) || std::memcmp(start, kJournalMagic, sizeof kJournalMagic) != 0) return;
    const char version = start[sizeof kJournalMagic];
    if (version != kJournalVersion && version != kSecondJournalVersion && version != kFirstJournalVersion) {
        state_ = State::unknownVersion;
        return;
    }
    std::uint32_t length = 0;
    std::memcpy(&length, start + sizeof kJournalMagic + 1, sizeof length);
    if (length > kMaxHeader) return;
    std::string bytes(length, '\0');
    if (!in_.read(bytes.data(), static_cast<std::streamsize>(length))) return;
    auto header = parseHeader(bytes, version);
    if (!header) return;
    header_ = std::move(*header);
    state_ = State::whole;
}

std::optional<JournalSample> JournalReader::next() {
    if (state_ != State::whole) return std::nullopt;
    char bytes[kRecordSize];
    if (!in_.read(bytes, sizeof bytes)) return std::nullopt;
    ByteReader r{std::string_view(bytes, sizeof bytes)};
    JournalSample s;
    std::uint8_t key = 0;
    std::uint16_t zero = 0;
    eachRecordField(s, key, zero, readFrom(r));
    if (!r.ok || key > 1 || zero != 0 || s.stream >= header_.streams.size()) {
        in_.setstate(std::ios::failbit);  // garbage: the journal ends before it
        return std::nullopt;
    }
    s.key = key == 1;
    return s;
}

JournalContents readJournal(std::string_view bytes) {
    std::istringstream in{std::string(bytes)};
    JournalReader reader(in);
    JournalContents contents;
    contents.state = reader.state();
    while (auto s = reader.next()) contents.samples.push_back(*s);
    if (contents.state == JournalReader::State::whole) {
        contents.header = std::move(reader.header());
    }
    return contents;
}

Journal::~Journal() {
    if (fd >= 0) ::close(fd);
}

void Journal::note(const std::string& bytes) {
    if (fd >= 0) pending += bytes;
}

}  // namespace morvane
