// A take's journal on its bytes alone, which of its samples lie whole, and what becomes of a take cut off.

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <random>

#include "camera/take_journal.h"
#include "camera/take_recovery.h"
#include "temp_dir.h"
#include "test_files.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mem.h>
}

namespace morvane {
namespace {

namespace fs = std::filesystem;

// Written by the recorder from a take of 1.5 s (64×36 H.264 at 29.97 fps with sound) cut off after its first
// second was journalled: movie and journal as the kill left them. The journal in today's layout, which names the
// camera, and as the first layout had it.
const fs::path goldenMovie = fs::path(MORVANE_SOURCE_DIR) / "tests/camera/golden/cut-off-take.mov";
const fs::path goldenJournal = fs::path(MORVANE_SOURCE_DIR) / "tests/camera/golden/cut-off-take.journal";
const fs::path secondLayoutJournal =
    fs::path(MORVANE_SOURCE_DIR) / "tests/camera/golden/cut-off-take-second-layout.journal";
const fs::path firstLayoutJournal =
    fs::path(MORVANE_SOURCE_DIR) / "tests/camera/golden/cut-off-take-first-layout.journal";
const std::string goldenCamera = "q83vEjRWeJCrze8SNFZ4kKvN7xI0VniQq83vEjRWeJA=";

std::uint32_t headerLength(const std::string& journal) {
    std::uint32_t length = 0;
    std::memcpy(&length, journal.data() + 8, sizeof length);
    return length;
}

void setHeaderLength(std::string& journal, std::uint32_t length) {
    std::memcpy(journal.data() + 8, &length, sizeof length);
}

JournalStream stream(AVMediaType type, AVCodecID codec, AVRational timeBase, const std::string& extradata) {
    JournalStream s;
    AVCodecParameters& p = *s.parameters;
    p.codec_type = type;
    p.codec_id = codec;
    if (type == AVMEDIA_TYPE_VIDEO) {
        p.width = 1920, p.height = 1080, p.format = 0, p.profile = 100, p.level = 40;
        p.color_primaries = AVCOL_PRI_BT709, p.color_trc = AVCOL_TRC_BT709, p.color_space = AVCOL_SPC_BT709;
    } else {
        p.sample_rate = 48000, p.frame_size = 1024, p.initial_padding = 1024, p.bit_rate = 128000;
        av_channel_layout_default(&p.ch_layout, 2);
    }
    p.extradata = static_cast<std::uint8_t*>(av_mallocz(extradata.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    std::memcpy(p.extradata, extradata.data(), extradata.size());
    p.extradata_size = static_cast<int>(extradata.size());
    s.timeBase = timeBase;
    s.frameRate = type == AVMEDIA_TYPE_VIDEO ? AVRational{30000, 1001} : AVRational{0, 1};
    return s;
}

TEST(JournalBytes, WhatIsWrittenReadsBackTheSame) {
    JournalHeader header;
    header.startDate = 786'000'000.25, header.startFrame = 1294705, header.frameRate = 30, header.ntsc = true;
    header.timecode = true, header.rotation = -90, header.videoTimescale = 30000, header.dataStart = 48;
    header.camera = "Cam A's key";
    header.cameraName = "Cam A";
    header.streams.push_back(
        stream(AVMEDIA_TYPE_VIDEO, AV_CODEC_ID_H264, {1001, 30000}, std::string("\x01\x64\x00\x28", 4)));
    header.streams.push_back(stream(AVMEDIA_TYPE_AUDIO, AV_CODEC_ID_AAC, {1, 48000}, std::string("\x11\x90", 2)));
    const std::vector<JournalSample> samples = {
        {0, true, 21000, 48, 0, 0, 1001},
        {1, false, 371, 21048, -1024, -1024, 1024},
        {0, false, 4100, 21419, 1001, 1001, 1001},
    };
    std::string bytes = journalHeaderBytes(header);
    for (const auto& s : samples) bytes += journalRecordBytes(s);
    EXPECT_EQ(bytes.substr(0, 8), "MRJOURN3");

    auto read = readJournal(bytes);
    ASSERT_EQ(read.state, JournalReader::State::whole);
    EXPECT_EQ(read.samples, samples);
    const JournalHeader& h = read.header;
    EXPECT_EQ(h.startDate, header.startDate);
    EXPECT_EQ(h.startFrame, header.startFrame);
    EXPECT_TRUE(h.ntsc && h.timecode);
    EXPECT_EQ(h.rotation, -90);
    EXPECT_EQ(h.videoTimescale, 30000);
    EXPECT_EQ(h.dataStart, 48);
    EXPECT_EQ(h.camera, "Cam A's key");
    EXPECT_EQ(h.cameraName, "Cam A");
    ASSERT_EQ(h.streams.size(), 2u);
    EXPECT_EQ(h.streams[1].parameters->ch_layout.nb_channels, 2);
    EXPECT_EQ(h.streams[1].parameters->initial_padding, 1024);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(h.streams[0].parameters->extradata), 4),
              std::string("\x01\x64\x00\x28", 4));
    EXPECT_EQ(av_cmp_q(h.streams[0].frameRate, AVRational{30000, 1001}), 0);
    // And written again, byte for byte.
    std::string again = journalHeaderBytes(read.header);
    for (const auto& s : read.samples) again += journalRecordBytes(s);
    EXPECT_EQ(again, bytes);
}

// A journal written by an earlier recorder keeps reading, in today's layout, in the second (which names the camera by
// its identity alone) and in the first (which names no camera): its fields, and the take finished from it.
TEST(JournalBytes, TodaysLayoutKeepsReading) {
    for (const auto& journal : {goldenJournal, secondLayoutJournal, firstLayoutJournal}) {
        SCOPED_TRACE(journal);
        const std::string bytes = test::readFile(journal);
        ASSERT_FALSE(bytes.empty()) << journal;
        auto read = readJournal(bytes);
        ASSERT_EQ(read.state, JournalReader::State::whole);
        const JournalHeader& h = read.header;
        EXPECT_EQ(h.startFrame, 1294705);
        EXPECT_EQ(h.frameRate, 30);
        EXPECT_TRUE(h.ntsc && h.timecode);
        EXPECT_EQ(h.rotation, 90);
        EXPECT_EQ(h.videoTimescale, 30000);
        ASSERT_EQ(h.streams.size(), 2u);
        EXPECT_EQ(h.streams[0].parameters->codec_id, AV_CODEC_ID_H264);
        EXPECT_EQ(h.streams[0].parameters->width, 64);
        EXPECT_EQ(h.streams[1].parameters->codec_id, AV_CODEC_ID_AAC);
        EXPECT_EQ(h.streams[1].parameters->sample_rate, 48000);
        EXPECT_EQ(read.samples.size(), (bytes.size() - 12 - headerLength(bytes)) / 40);
        ASSERT_FALSE(read.samples.empty());
        EXPECT_EQ(read.samples[0].offset, h.dataStart);
        EXPECT_EQ(h.camera, journal == firstLayoutJournal ? "" : goldenCamera);
        EXPECT_EQ(h.cameraName, journal == goldenJournal ? "Cam A" : "");
        if (journal == goldenJournal) {
            std::string again = journalHeaderBytes(read.header);
            for (const auto& s : read.samples) again += journalRecordBytes(s);
            EXPECT_EQ(again, bytes.substr(0, again.size())) << "today's writer writes the same layout";
        }

        test::TempDir dir;
        fs::copy_file(goldenMovie, dir / "take.mov");
        fs::copy_file(journal, journalOf(dir / "take.mov"));
        const auto recovered = recoverTake(dir / "take.mov");
        ASSERT_EQ(recovered.outcome, TakeRecovery::Outcome::finished);
        EXPECT_NEAR(recovered.take->duration, 1, 0.05);
        EXPECT_EQ(test::commandOutput("ffmpeg -v error -i '" + (dir / "take.mov").string() + "' -f null - 2>&1"), "");
    }
}

// On the first layout's bytes, whose places the rows name.
TEST(JournalBytes, DamageIsToldFromAnotherVersion) {
    using State = JournalReader::State;
    const std::string golden = test::readFile(firstLayoutJournal);
    ASSERT_FALSE(golden.empty());
    const std::size_t header = 12 + headerLength(golden), records = (golden.size() - header) / 40;
    struct Row {
        const char* name;
        std::function<void(std::string&)> change;
        State state;
        std::size_t samples;
    };
    const Row rows[] = {
        {"as written", [](std::string&) {}, State::whole, records},
        {"empty", [](std::string& b) { b.clear(); }, State::damaged, 0},
        {"cut in its magic", [](std::string& b) { b.resize(5); }, State::damaged, 0},
        {"cut in its header", [&](std::string& b) { b.resize(header - 1); }, State::damaged, 0},
        {"cut after its header", [&](std::string& b) { b.resize(header); }, State::whole, 0},
        {"cut in a record", [](std::string& b) { b.resize(b.size() - 17); }, State::whole, records - 1},
        {"of version 4", [](std::string& b) { b[7] = '4'; }, State::unknownVersion, 0},
        {"of a version that is no digit", [](std::string& b) { b[7] = '\xff'; }, State::unknownVersion, 0},
        {"with one more field in its header",
         [&](std::string& b) {
             setHeaderLength(b, headerLength(b) + 8);
             b.insert(header, 8, '\x01');
         },
         State::damaged, 0},
        {"with a header shorter than its fields", [](std::string& b) { setHeaderLength(b, headerLength(b) - 4); },
         State::damaged, 0},
        {"with a header of 4 GiB", [](std::string& b) { setHeaderLength(b, 0xffffffff); }, State::damaged, 0},
        {"with 255 tracks", [](std::string& b) { b[12 + 42] = '\xff'; }, State::damaged, 0},
        {"with extradata of 4 GiB",
         [](std::string& b) {
             // The first track's extradata length follows its 27 codec fields and two rates.
             const std::uint32_t huge = 0xffffffff;
             std::memcpy(b.data() + 12 + 43 + 27 * 8 + 16, &huge, sizeof huge);
         },
         State::damaged, 0},
        {"with a field order of no kind",
         [](std::string& b) {
             const std::int64_t order = 97;  // the 14th codec field of the first track
             std::memcpy(b.data() + 12 + 43 + 13 * 8, &order, sizeof order);
         },
         State::damaged, 0},
        {"with a record of a track it has not", [&](std::string& b) { b[header + 40 * 5] = 7; }, State::whole, 5},
        {"with a record of garbage", [&](std::string& b) { b[header + 40 * 9 + 2] = 1; }, State::whole, 9},
        {"of garbage",
         [](std::string& b) {
             std::mt19937 random(3);
             for (char& c : b) c = static_cast<char>(random());
         },
         State::damaged, 0},
        {"of garbage after its magic",
         [](std::string& b) {
             std::mt19937 random(5);
             for (std::size_t i = 8; i < b.size(); ++i) b[i] = static_cast<char>(random());
         },
         State::damaged, 0},
    };
    for (const auto& row : rows) {
        std::string bytes = golden;
        row.change(bytes);
        const auto read = readJournal(bytes);
        EXPECT_EQ(read.state, row.state) << row.name;
        EXPECT_EQ(read.samples.size(), row.samples) << row.name;
    }
}

// A journal of gigabytes (here of zeros after the golden one, on a sparse file) is read a record at a time.
TEST(JournalBytes, AHugeJournalIsReadInLittleMemory) {
    test::TempDir dir;
    fs::copy_file(goldenMovie, dir / "take.mov");
    const fs::path journal = journalOf(dir / "take.mov");
    fs::copy_file(goldenJournal, journal);
    fs::resize_file(journal, std::uintmax_t(3) << 30);
    rusage before{}, after{};
    ::getrusage(RUSAGE_SELF, &before);
    const auto recovered = recoverTake(dir / "take.mov");
    ::getrusage(RUSAGE_SELF, &after);
    EXPECT_EQ(recovered.outcome, TakeRecovery::Outcome::finished);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 256 << 10) << "KiB more at the peak";
}

// Length-prefixed NAL units.
std::string nal(std::string unit) {
    const auto n = static_cast<std::uint32_t>(unit.size());
    return std::string{char(n >> 24), char(n >> 16), char(n >> 8), char(n)} + unit;
}

std::string be16(std::size_t v) {
    return {char(v >> 8), char(v)};
}

// A ProRes frame of one picture with these slices.
std::string proRes(const std::vector<std::string>& slices, std::int64_t sizeChange = 0) {
    std::string picture = std::string(1, char(8 << 3)) + std::string(4, '\0') + be16(slices.size()) + '\x22';
    for (const auto& s : slices) picture += be16(s.size());
    for (const auto& s : slices) picture += s;
    const auto pictureSize = static_cast<std::uint32_t>(picture.size());
    picture[1] = char(pictureSize >> 24), picture[2] = char(pictureSize >> 16), picture[3] = char(pictureSize >> 8);
    picture[4] = char(pictureSize);
    const std::string header =
        be16(20) + std::string("\0\0Lavc", 6) + be16(320) + be16(180) + "\x02\x01\x01\x01\x01\x01\x01\x01";
    const auto frame = static_cast<std::uint32_t>(8 + header.size() + picture.size() + sizeChange);
    return std::string{char(frame >> 24), char(frame >> 16), char(frame >> 8), char(frame)} + "icpf" + header + picture;
}

TEST(WholeSamples, BytesAreLookedAtAsTheirCodecMakesThem) {
    const struct {
        const char* name;
        AVCodecID codec;
        std::string bytes;
        bool whole;
    } rows[] = {
        {"a NAL unit", AV_CODEC_ID_H264, nal("\x65\x88\x84\x21\xa0"), true},
        {"two", AV_CODEC_ID_H264, nal("\x06\x05\x11") + nal("\x65\x88\x80"), true},
        {"emulation prevention", AV_CODEC_ID_H264, nal(std::string("\x65\x00\x00\x03\x01\x80", 6)), true},
        {"three zero bytes", AV_CODEC_ID_H264, nal(std::string("\x65\x00\x00\x00\x01\x80", 6)), false},
        {"a start code inside", AV_CODEC_ID_HEVC, nal(std::string("\x26\x01\x00\x00\x01\x80", 6)), false},
        {"a NAL unit ending in zeros", AV_CODEC_ID_HEVC, nal(std::string("\x26\x01\xaf\x00", 4)), false},
        {"a length beyond the sample", AV_CODEC_ID_H264, nal("\x65\x88\x80").substr(0, 6), false},
        {"bytes after the last unit", AV_CODEC_ID_H264, nal("\x65\x88\x80") + "\x01", false},
        {"an empty unit", AV_CODEC_ID_H264, nal(""), false},
        {"zeros", AV_CODEC_ID_H264, std::string(64, '\0'), false},
        {"nothing", AV_CODEC_ID_H264, "", false},
        {"a ProRes frame", AV_CODEC_ID_PRORES, proRes({"\x30\x04\x10\x05\x91\xa2", "\x30\x04\x11\x01\x7f"}), true},
        {"seven zero bytes in a slice", AV_CODEC_ID_PRORES,
         proRes({std::string("\x30\x04", 2) + std::string(7, '\0') + "\x01"}), true},
        {"eight zero bytes in a slice", AV_CODEC_ID_PRORES,
         proRes({std::string("\x30\x04", 2) + std::string(8, '\0') + "\x01"}), false},
        {"a ProRes frame of another size", AV_CODEC_ID_PRORES, proRes({"\x30\x04\x10\x05\x91\xa2"}, 1), false},
        {"a ProRes frame cut short", AV_CODEC_ID_PRORES, proRes({"\x30\x04\x10\x05\x91\xa2"}).substr(0, 40), false},
        {"zeros for a ProRes frame", AV_CODEC_ID_PRORES, std::string(4096, '\0'), false},
        {"an AAC block", AV_CODEC_ID_AAC, "\x21\x10\x05\x60\x8c\x1c", true},
        {"an AAC block ending in zeros", AV_CODEC_ID_AAC, std::string("\x21\x10\x05\x00", 4), false},
        {"sound of another codec", AV_CODEC_ID_PCM_S16LE, std::string(8, '\0'), true},
    };
    for (const auto& row : rows) {
        const std::span bytes(reinterpret_cast<const std::uint8_t*>(row.bytes.data()), row.bytes.size());
        EXPECT_EQ(sampleBytesWhole(row.codec, bytes), row.whole) << row.name;
    }
}

std::span<const std::uint8_t> bytesOf(const std::string& bytes) {
    return {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()};
}

TEST(WholeSamples, WhatIsNotWholeIsPassedOverToTheNextKeyPicture) {
    JournalHeader header;
    header.dataStart = 100;
    header.streams.push_back(stream(AVMEDIA_TYPE_VIDEO, AV_CODEC_ID_H264, {1, 30}, ""));
    header.streams.push_back(stream(AVMEDIA_TYPE_AUDIO, AV_CODEC_ID_AAC, {1, 48000}, ""));
    const std::string picture = nal("\x65\x88\x84\x21\xa0"), sound = "\x21\x10\x05\x60";
    const auto size = [](const std::string& b) { return static_cast<std::int32_t>(b.size()); };
    const struct {
        const char* name;
        JournalSample sample;
        std::string bytes;
        bool placed, whole;
    } steps[] = {
        {"sound before the first picture", {1, false, size(sound), 100, 0, 0, 1024}, sound, true, true},
        {"a first picture that is no key picture", {0, false, size(picture), 104, 0, 0, 1}, picture, false, false},
        {"the first picture", {0, true, size(picture), 104, 0, 0, 1}, picture, true, true},
        {"a sample over the one before", {0, false, size(picture), 110, 1, 1, 1}, picture, false, false},
        {"a picture after one passed over that is no key picture",
         {0, false, size(picture), 113, 2, 2, 1},
         picture,
         false,
         false},
        {"a sample beyond the movie", {0, true, size(picture), 995, 2, 2, 1}, picture, false, false},
        {"an empty sample", {0, true, 0, 113, 2, 2, 1}, "", false, false},
        {"a sample of a track it has not", {2, false, size(sound), 113, 1, 1, 1}, sound, false, false},
        {"a time beyond any take", {0, true, size(picture), 113, std::int64_t(1) << 60, 1, 1}, picture, false, false},
        {"a duration below zero", {1, false, size(sound), 113, 1024, 1024, -1}, sound, false, false},
        {"a duration of a second", {1, false, size(sound), 113, 1024, 1024, 48000}, sound, false, false},
        {"sound whose time goes back", {1, false, size(sound), 113, 0, 0, 1024}, sound, false, false},
        {"a sample read short", {1, false, size(sound), 113, 1024, 1024, 1024}, sound.substr(1), true, false},
        {"a key picture after those passed over", {0, true, size(picture), 120, 3, 3, 1}, picture, true, true},
        {"a picture whose time goes back", {0, false, size(picture), 129, 1, 1, 1}, picture, false, false},
        {"sound damaged", {1, false, 4, 129, 1024, 1024, 1024}, std::string(4, '\0'), true, false},
        {"sound after the damage", {1, false, size(sound), 133, 2048, 2048, 1024}, sound, true, true},
        {"a picture after one passed over", {0, false, size(picture), 137, 4, 4, 1}, picture, false, false},
        {"the same picture listed again", {0, false, size(picture), 137, 4, 4, 1}, picture, false, false},
        {"an earlier picture listed again", {0, true, size(picture), 120, 3, 3, 1}, picture, false, false},
    };
    WholeSamples samples(header, 1000);
    EXPECT_FALSE(samples.pictures());
    for (const auto& step : steps) {
        EXPECT_EQ(samples.placed(step.sample), step.placed) << step.name;
        const bool whole = samples.whole(step.sample, bytesOf(step.bytes));
        EXPECT_EQ(whole, step.whole) << step.name;
        if (!whole) samples.passOver(step.sample);
    }
    EXPECT_TRUE(samples.pictures());
    EXPECT_EQ(samples.end(), 137);
    // The two pictures between those kept, and one after them: each stretch of time once.
    EXPECT_NEAR(samples.secondsPassedOver(), 3 / 30.0, 1e-9);

    // A picture found whole that the muxer refuses is left out; the next follows the one before it.
    WholeSamples refusing(header, 1000);
    for (const std::int64_t t : {0, 1, 2})
        ASSERT_TRUE(refusing.whole({0, t == 0, size(picture), 104 + size(picture) * t, t, t, 1}, bytesOf(picture)));
    refusing.refused({0, false, size(picture), 104 + size(picture), 1, 1, 2});
    EXPECT_NEAR(refusing.secondsPassedOver(), 1 / 30.0, 1e-9);
}

TEST(RecoveryOutcome, NothingThatMightHoldFootageIsRemoved) {
    using Journal = TakeRecovery::Journal;
    using Outcome = TakeRecovery::Outcome;
    const struct {
        TakeRecovery::Facts facts;
        Outcome outcome;
    } rows[] = {
        {{Journal::whole, true, false, true}, Outcome::finished},
        {{Journal::whole, false, true, true}, Outcome::asItIs},  // its index was written before the cut
        {{Journal::whole, false, false, true}, Outcome::setAside},
        {{Journal::whole, false, false, false}, Outcome::removed},  // cut before a sample was written
        {{Journal::unknownVersion, false, true, true}, Outcome::leftAlone},
        {{Journal::unknownVersion, false, false, false}, Outcome::leftAlone},
        {{Journal::damaged, false, true, true}, Outcome::asItIs},
        {{Journal::damaged, false, false, true}, Outcome::setAside},
        {{Journal::missing, false, false, true}, Outcome::setAside},
        {{Journal::missing, false, false, false}, Outcome::removed},       // an empty file
        {{Journal::whole, false, false, true, true}, Outcome::wantsRoom},  // its disk had no room for its index
        {{Journal::whole, false, true, true, true}, Outcome::asItIs},
        {{Journal::damaged, false, false, true, true}, Outcome::setAside},
    };
    for (std::size_t i = 0; i < std::size(rows); ++i)
        EXPECT_EQ(TakeRecovery::decide(rows[i].facts), rows[i].outcome) << "row " << i;

    const std::string movie = "/r/Take 0002.mov";
    for (auto stored : {Outcome::finished, Outcome::asItIs, Outcome::removed})
        EXPECT_EQ(TakeRecovery::message(stored, movie, {}), std::nullopt);
}

// A take's AAC decoder configuration written again is the one the encoder wrote.
TEST(RecoveryOutcome, TheSoundsDecoderConfigurationIsWrittenAgainAsTheEncoderWroteIt) {
    const AVCodec* aac = avcodec_find_encoder(AV_CODEC_ID_AAC);
    ASSERT_TRUE(aac);
    for (const int rate : {48000, 44100, 32000, 16000, 8000}) {
        for (const int channels : {1, 2, 6}) {
            AVCodecContext* c = avcodec_alloc_context3(aac);
            ASSERT_TRUE(c);
            c->sample_rate = rate;
            c->sample_fmt = AV_SAMPLE_FMT_FLTP;
            c->bit_rate = 64000;
            c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
            av_channel_layout_default(&c->ch_layout, channels);
            ASSERT_GE(avcodec_open2(c, aac, nullptr), 0) << rate << " Hz, " << channels;
            const std::string encoders(reinterpret_cast<const char*>(c->extradata),
                                       static_cast<std::size_t>(c->extradata_size));
            avcodec_free_context(&c);
            const auto ours = aacConfiguration(rate, channels);
            ASSERT_TRUE(ours) << rate << " Hz, " << channels;
            // The encoder adds that no extension follows.
            EXPECT_EQ(encoders.substr(0, ours->size()), *ours) << rate << " Hz, " << channels;
        }
    }
    EXPECT_EQ(aacConfiguration(12345, 1)->size(), 5u) << "a rate without an index of its own is written out";
    EXPECT_FALSE(aacConfiguration(48000, 7)) << "seven channels have no configuration";
}

// The crew is told of a take by the name they know it by, and only of what was left out of it.
TEST(RecoveryOutcome, TheCrewIsToldWhatWasLeftOutOfWhichTake) {
    using Outcome = TakeRecovery::Outcome;
    using Sound = TakeRecovery::Sound;
    const std::string take = "2026-03-05 23.59.59 Cam A.mov";
    const fs::path movie = "/r/Recording/24D74F49-5D1C-4C6B-9A4E-0F2B6C1D7E55.mov";
    const auto finished = [&](double passedOver, Sound sound = Sound::asJournalled) {
        return RecoveredTake{Outcome::finished, InterruptedTake{movie, 12.5}, {}, passedOver, sound};
    };
    RecoveredTake setAside{Outcome::setAside, std::nullopt, movie.string() + ".unfinished"};
    const struct {
        const char* name;
        RecoveredTake recovered;
        std::vector<std::string> told, notTold;
    } rows[] = {
        {"whole", finished(0), {take, "12.5 s of it kept"}, {"without", movie.string()}},
        {"pictures left out", finished(0.5), {take, "12.5 s", "without 0.5 s of pictures damaged"}, {"sound"}},
        {"one picture left out", finished(1.001 / 30), {"without 1 picture damaged"}, {"0.0 s"}},
        {"its sound written again", finished(0, Sound::rebuilt), {take}, {"without"}},
        {"its sound left out", finished(0, Sound::leftOut), {take, "without its sound"}, {"pictures"}},
        {"set aside", setAside, {take, "/r/Recording", "24D74F49-5D1C-4C6B-9A4E-0F2B6C1D7E55.mov.unfinished"}, {}},
        {"left alone", {Outcome::leftAlone}, {take, "another version"}, {movie.string()}},
        {"waiting for room", {Outcome::wantsRoom}, {take, "full"}, {movie.string()}},
    };
    for (const auto& row : rows) {
        const auto told = TakeRecovery::message(row.recovered, take);
        ASSERT_TRUE(told) << row.name;
        for (const auto& part : row.told) EXPECT_NE(told->find(part), std::string::npos) << row.name << ": " << *told;
        for (const auto& part : row.notTold)
            EXPECT_EQ(told->find(part), std::string::npos) << row.name << ": " << *told;
    }
}

}  // namespace
}  // namespace morvane
