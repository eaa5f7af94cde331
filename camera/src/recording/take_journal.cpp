#include "camera/take_journal.h"

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <type_traits>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mem.h>
}

namespace morvane {

namespace {

constexpr char kJournalMagic[8] = {'M', 'R', 'J', 'O', 'U', 'R', 'N', '1'};
constexpr std::size_t kRecordSize = 40;
constexpr std::size_t kMaxStreams = 4;
constexpr std::size_t kMaxExtradata = 1 << 20;

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

// Every field of the codec parameters that a movie's sample description is made of, in the journal's order.
template <typename F>
void eachCodecField(AVCodecParameters& p, F&& f) {
    f(p.codec_type), f(p.codec_id), f(p.codec_tag), f(p.format), f(p.bit_rate), f(p.bits_per_coded_sample);
    f(p.bits_per_raw_sample), f(p.profile), f(p.level), f(p.width), f(p.height), f(p.sample_aspect_ratio.num);
    f(p.sample_aspect_ratio.den), f(p.field_order), f(p.color_range), f(p.color_primaries), f(p.color_trc);
    f(p.color_space), f(p.chroma_location), f(p.video_delay), f(p.ch_layout.nb_channels), f(p.sample_rate);
    f(p.block_align), f(p.frame_size), f(p.initial_padding), f(p.trailing_padding), f(p.seek_preroll);
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

}  // namespace

std::string journalHeaderBytes(JournalHeader& h) {
    ByteWriter w;
    w.put(h.startDate), w.put(h.startFrame), w.put(h.frameRate), w.put(std::uint8_t(h.ntsc));
    w.put(std::uint8_t(h.timecode)), w.put(h.rotation), w.put(h.videoTimescale), w.put(h.dataStart);
    w.put(std::uint8_t(h.streams.size()));
    for (auto& stream : h.streams) {
        eachCodecField(*stream.parameters, [&](auto& field) { w.put(static_cast<std::int64_t>(field)); });
        w.put(stream.timeBase), w.put(stream.frameRate);
        const auto* p = stream.parameters.get();
        w.put(std::uint32_t(p->extradata_size));
        w.out.append(reinterpret_cast<const char*>(p->extradata), static_cast<std::size_t>(p->extradata_size));
    }
    std::string bytes(kJournalMagic, sizeof kJournalMagic);
    const auto length = static_cast<std::uint32_t>(w.out.size());
    bytes.append(reinterpret_cast<const char*>(&length), sizeof length);
    return bytes + w.out;
}

std::string journalRecordBytes(const JournalSample& s) {
    ByteWriter w;
    w.put(s.stream), w.put(std::uint8_t(s.key)), w.put(std::uint16_t(0)), w.put(s.size);
    w.put(s.offset), w.put(s.pts), w.put(s.dts), w.put(s.duration);
    return std::move(w.out);
}

std::optional<std::pair<JournalHeader, std::vector<JournalSample>>> readJournal(std::string_view bytes) {
    if (bytes.size() < sizeof kJournalMagic + 4 || std::memcmp(bytes.data(), kJournalMagic, sizeof kJournalMagic))
        return std::nullopt;
    bytes.remove_prefix(sizeof kJournalMagic);
    ByteReader lengthReader{bytes};
    const auto length = lengthReader.get<std::uint32_t>();
    if (length > lengthReader.in.size()) return std::nullopt;
    ByteReader r{lengthReader.in.substr(0, length)};
    JournalHeader h;
    h.startDate = r.get<double>(), h.startFrame = r.get<std::int64_t>(), h.frameRate = r.get<std::int32_t>();
    h.ntsc = r.get<std::uint8_t>() != 0, h.timecode = r.get<std::uint8_t>() != 0, h.rotation = r.get<double>();
    h.videoTimescale = r.get<std::int32_t>(), h.dataStart = r.get<std::int64_t>();
    const auto count = r.get<std::uint8_t>();
    if (!r.ok || count < 1 || count > kMaxStreams || h.dataStart <= 0 || h.videoTimescale <= 0 ||
        !std::isfinite(h.startDate) || !std::isfinite(h.rotation) || h.frameRate < 1 || h.frameRate > 1000)
        return std::nullopt;
    for (int i = 0; i < count; ++i) {
        JournalStream stream;
        if (!stream.parameters) return std::nullopt;
        AVCodecParameters& p = *stream.parameters;
        eachCodecField(p, [&](auto& field) {
            using Field = std::remove_reference_t<decltype(field)>;
            const auto value = r.get<std::int64_t>();
            // Kinds of tracks and codecs the muxer can take, before they are looked at as such.
            if constexpr (std::is_same_v<Field, AVMediaType>) {
                if (value != AVMEDIA_TYPE_VIDEO && value != AVMEDIA_TYPE_AUDIO) r.ok = false;
            } else if constexpr (std::is_same_v<Field, AVCodecID>) {
                if (value <= AV_CODEC_ID_NONE || value >= AV_CODEC_ID_WRAPPED_AVFRAME) r.ok = false;
            }
            if (r.ok) field = static_cast<Field>(value);
        });
        const int channels = p.ch_layout.nb_channels;
        p.ch_layout = AVChannelLayout{};
        if (p.codec_type == AVMEDIA_TYPE_AUDIO && channels >= 1 && channels <= 8)
            av_channel_layout_default(&p.ch_layout, channels);
        stream.timeBase = r.get<AVRational>(), stream.frameRate = r.get<AVRational>();
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
    if (h.streams[0].parameters->codec_type != AVMEDIA_TYPE_VIDEO) return std::nullopt;
    std::vector<JournalSample> samples;
    for (ByteReader records{lengthReader.in.substr(length)}; records.in.size() >= kRecordSize;) {
        JournalSample s;
        s.stream = records.get<std::uint8_t>(), s.key = records.get<std::uint8_t>() != 0;
        records.get<std::uint16_t>();
        s.size = records.get<std::int32_t>(), s.offset = records.get<std::int64_t>();
        s.pts = records.get<std::int64_t>(), s.dts = records.get<std::int64_t>();
        s.duration = records.get<std::int64_t>();
        samples.push_back(s);
    }
    return std::make_pair(std::move(h), std::move(samples));
}

Journal::~Journal() {
    if (fd >= 0) ::close(fd);
}

void Journal::note(const std::string& bytes) {
    if (fd >= 0) pending += bytes;
}

}  // namespace morvane
