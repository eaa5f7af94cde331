#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <random>
#include <string>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer's runtime has it; GCC ships no header for it.
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void*, std::size_t),
                                                         void (*)(const volatile void*));
#endif

#include "platform/asset_probe.h"
#include "shoot_library/shoot_library.h"
#include "shoot_test_support.h"

namespace morvane {
namespace {

void put32(Bytes& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}
void put64(Bytes& out, std::uint64_t v) {
    put32(out, static_cast<std::uint32_t>(v >> 32));
    put32(out, static_cast<std::uint32_t>(v));
}
void putType(Bytes& out, const char* type) {
    out.insert(out.end(), type, type + 4);
}

Bytes atom(const char* type, const Bytes& body) {
    Bytes out;
    put32(out, static_cast<std::uint32_t>(body.size() + 8));
    putType(out, type);
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

Bytes atom64(const char* type, const Bytes& body) {
    Bytes out;
    put32(out, 1);
    putType(out, type);
    put64(out, body.size() + 16);
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

Bytes join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes hdlr(const char* subtype) {
    Bytes body;
    put32(body, 0);
    putType(body, "mhlr");
    putType(body, subtype);
    put32(body, 0);
    return atom("hdlr", body);
}

Bytes tmcdDescription(std::uint32_t timeScale, std::uint32_t frameDuration, std::uint8_t frames) {
    Bytes body;
    put32(body, 0);                 // version and flags
    put32(body, 1);                 // entry count
    put32(body, 34);                // entry size
    putType(body, "tmcd");          // format
    body.insert(body.end(), 6, 0);  // reserved
    body.push_back(0);
    body.push_back(1);  // data reference index
    put32(body, 0);     // reserved
    put32(body, 3);     // flags
    put32(body, timeScale);
    put32(body, frameDuration);
    body.push_back(frames);
    body.push_back(0);
    return body;
}

Bytes stco(std::uint32_t offset) {
    Bytes body;
    put32(body, 0);
    put32(body, 1);
    put32(body, offset);
    return atom("stco", body);
}

Bytes co64(std::uint64_t offset) {
    Bytes body;
    put32(body, 0);
    put32(body, 1);
    put64(body, offset);
    return atom("co64", body);
}

Bytes trak(const char* handler, const Bytes& stblChildren) {
    const Bytes stbl = atom("stbl", stblChildren);
    return atom("trak", atom("mdia", join({hdlr(handler), atom("minf", stbl)})));
}

Bytes timecodeTrak(std::uint32_t offset, std::uint8_t frames = 30, std::uint32_t frameDuration = 1001,
                   std::uint32_t timeScale = 30000) {
    return trak("tmcd", join({atom("stsd", tmcdDescription(timeScale, frameDuration, frames)), stco(offset)}));
}

// A movie with a media atom holding the timecode sample, then the given moov.
Bytes movie(std::int32_t frame, const std::function<Bytes(std::uint32_t sampleOffset)>& moov) {
    Bytes mdat;
    put32(mdat, static_cast<std::uint32_t>(frame));
    const Bytes ftyp = atom("ftyp", {'q', 't', ' ', ' ', 0, 0, 0, 0});
    const Bytes media = atom("mdat", mdat);
    const auto sampleOffset = static_cast<std::uint32_t>(ftyp.size() + 8);
    return join({ftyp, media, moov(sampleOffset)});
}

std::optional<TimecodeStart> readFrom(const Bytes& bytes) {
    test::TempDir dir;
    const auto file = dir / "movie.mov";
    test::writeFile(file, std::string(bytes.begin(), bytes.end()));
    return ShootLibrary::readTimecodeStart(file);
}

TEST(TimecodeReaderTest, ReadsTheFirstTimecodeSample) {
    const auto bytes = movie(1'294'705, [](std::uint32_t at) { return atom("moov", timecodeTrak(at)); });
    EXPECT_EQ(readFrom(bytes), (TimecodeStart{1'294'705, 30, true}));
}

TEST(TimecodeReaderTest, Table) {
    struct Case {
        const char* what;
        std::function<Bytes(std::uint32_t)> moov;
        std::optional<TimecodeStart> expected;
    };
    const TimecodeStart ntsc30{900, 30, true};
    const Case cases[] = {
        {"a moov with a 64-bit size", [](std::uint32_t at) { return atom64("moov", timecodeTrak(at)); }, ntsc30},
        {"a moov with size 0",
         [](std::uint32_t at) {
             Bytes m = atom("moov", timecodeTrak(at));
             m[0] = m[1] = m[2] = m[3] = 0;
             return m;
         },
         std::nullopt},
        {"a sound track first",
         [](std::uint32_t at) {
             return atom("moov",
                         join({trak("soun", atom("stsd", tmcdDescription(30000, 1001, 30))), timecodeTrak(at)}));
         },
         ntsc30},
        {"frame duration 1000 is not NTSC", [](std::uint32_t at) { return atom("moov", timecodeTrak(at, 30, 1000)); },
         TimecodeStart{900, 30, false}},
        {"29.97 on a 90 kHz scale", [](std::uint32_t at) { return atom("moov", timecodeTrak(at, 30, 3003, 90000)); },
         ntsc30},
        {"23.976 on a 90 kHz scale", [](std::uint32_t at) { return atom("moov", timecodeTrak(at, 24, 3754, 90000)); },
         TimecodeStart{900, 24, true}},
        {"23.976 exact", [](std::uint32_t at) { return atom("moov", timecodeTrak(at, 24, 1001, 24000)); },
         TimecodeStart{900, 24, true}},
        {"59.94 on a 90 kHz scale", [](std::uint32_t at) { return atom("moov", timecodeTrak(at, 60, 1501, 90000)); },
         TimecodeStart{900, 60, true}},
        {"25 on a 90 kHz scale", [](std::uint32_t at) { return atom("moov", timecodeTrak(at, 25, 3600, 90000)); },
         TimecodeStart{900, 25, false}},
        {"25 exact", [](std::uint32_t at) { return atom("moov", timecodeTrak(at, 25, 1, 25)); },
         TimecodeStart{900, 25, false}},
        {"a zero time scale keeps the frame count",
         [](std::uint32_t at) { return atom("moov", timecodeTrak(at, 30, 1001, 0)); }, TimecodeStart{900, 30, false}},
        {"zero frames per second is no timecode", [](std::uint32_t at) { return atom("moov", timecodeTrak(at, 0)); },
         std::nullopt},
        {"a short stco falls back to co64",
         [](std::uint32_t at) {
             Bytes shortStco;
             put32(shortStco, 0);
             put32(shortStco, 1);
             return atom("moov", trak("tmcd", join({atom("stsd", tmcdDescription(30000, 1001, 30)),
                                                    atom("stco", shortStco), co64(at)})));
         },
         ntsc30},
        {"a chunk offset past the end of the file",
         [](std::uint32_t) { return atom("moov", timecodeTrak(0xFFFFFFF0u)); }, std::nullopt},
        {"a co64 offset beyond any file",
         [](std::uint32_t) {
             return atom(
                 "moov",
                 trak("tmcd", join({atom("stsd", tmcdDescription(30000, 1001, 30)), co64(0xFFFFFFFFFFFFFFF0ull)})));
         },
         std::nullopt},
        {"no timecode track",
         [](std::uint32_t) { return atom("moov", trak("vide", atom("stsd", tmcdDescription(30000, 1001, 30)))); },
         std::nullopt},
        {"a child atom whose size runs past its parent",
         [](std::uint32_t at) {
             Bytes m = atom("moov", timecodeTrak(at));
             m[8 + 3] = 0xFF;  // the trak's size
             return m;
         },
         std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(readFrom(movie(900, c.moov)), c.expected) << c.what;
}

TEST(TimecodeReaderTest, TopLevelWalkStopsSafelyOnHostileSizes) {
    test::TempDir dir;
    const auto check = [&](const Bytes& bytes) {
        const auto file = dir / "hostile.mov";
        test::writeFile(file, std::string(bytes.begin(), bytes.end()));
        const int fd = ::open(file.c_str(), O_RDONLY);
        const auto found = ShootLibrary::topLevelAtom(fd, "moov");
        ::close(fd);
        return found;
    };
    // A 64-bit size that would wrap the offset around.
    Bytes wrap;
    put32(wrap, 1);
    putType(wrap, "free");
    put64(wrap, 0xFFFFFFFFFFFFFFF8ull);
    EXPECT_FALSE(check(join({wrap, atom("moov", {1, 2, 3})})));
    // A size running past the end of the file.
    Bytes past;
    put32(past, 0x7FFFFFFF);
    putType(past, "free");
    EXPECT_FALSE(check(join({past, atom("moov", {1, 2, 3})})));
    // A 64-bit size smaller than its header; a 32-bit size below 8.
    Bytes small;
    put32(small, 1);
    putType(small, "moov");
    put64(small, 15);
    EXPECT_FALSE(check(small));
    EXPECT_FALSE(check(Bytes{0, 0, 0, 7, 'm', 'o', 'o', 'v'}));
    // 64 MiB or more is refused without being read.
    Bytes huge;
    put32(huge, 64u * 1024 * 1024);
    putType(huge, "moov");
    EXPECT_FALSE(check(huge));
    // A wanted atom cut short by the end of the file comes back short.
    Bytes cut;
    put32(cut, 1000);
    putType(cut, "moov");
    cut.insert(cut.end(), {9, 9, 9});
    EXPECT_EQ(check(cut), (Bytes{9, 9, 9}));
    // After other atoms.
    EXPECT_EQ(check(join({atom("ftyp", {1}), atom64("wide", {}), atom("moov", {4, 5})})), (Bytes{4, 5}));
}

TEST(TimecodeReaderTest, ChildAtomsStopOnBadSizes) {
    EXPECT_EQ(ShootLibrary::childAtoms(join({atom("trak", {1}), atom("free", {}), atom("trak", {2})}), "trak"),
              (std::vector<Bytes>{{1}, {2}}));
    EXPECT_TRUE(ShootLibrary::childAtoms(atom64("trak", {1}), "trak").empty());
    EXPECT_TRUE(ShootLibrary::childAtoms(Bytes{0, 0, 0, 4, 't', 'r', 'a', 'k'}, "trak").empty());
    EXPECT_TRUE(ShootLibrary::childAtoms(Bytes{0, 0, 0, 9, 't', 'r', 'a', 'k'}, "trak").empty());
    EXPECT_TRUE(ShootLibrary::childAtoms(Bytes{0, 0, 0}, "trak").empty());
    EXPECT_FALSE(ShootLibrary::timecodeSampleDescription(Bytes(40, 0)));
}

TEST(TimecodeReaderTest, TruncatedAndScrambledMoviesNeverCrash) {
    const auto valid = movie(1234, [](std::uint32_t at) {
        return atom("moov", join({trak("soun", atom("stsd", tmcdDescription(48000, 1, 1))), timecodeTrak(at)}));
    });
    ASSERT_EQ(readFrom(valid), (TimecodeStart{1234, 30, true}));
    std::mt19937 random(42);
    test::TempDir dir;
    const auto file = dir / "fuzz.mov";
    for (int round = 0; round < 600; ++round) {
        Bytes bytes = valid;
        if (round % 2 == 0) {
            bytes.resize(random() % bytes.size());
        } else {
            for (int k = 0; k < 3; ++k) bytes[random() % bytes.size()] = static_cast<std::uint8_t>(random());
        }
        test::writeFile(file, std::string(bytes.begin(), bytes.end()));
        (void)ShootLibrary::readTimecodeStart(file);
    }
    EXPECT_FALSE(ShootLibrary::readTimecodeStart(dir / "missing.mov"));
}

// Movies made by the ffmpeg tool.

TEST(MovieProbeTest, TimecodeTracksWrittenByFFmpeg) {
    test::TempDir dir;
    test::makeTestMovie(dir / "ntsc.mov", "30000/1001", "12:00:00;01", true);
    test::makeTestMovie(dir / "pal.mov", "25", "10:00:00:12");
    test::makeTestMovie(dir / "plain.mov", "25", "");
    EXPECT_EQ(ShootLibrary::readTimecodeStart(dir / "ntsc.mov"), (TimecodeStart{1'294'705, 30, true}));
    EXPECT_EQ(ShootLibrary::readTimecodeStart(dir / "pal.mov"), (TimecodeStart{900'012, 25, false}));
    EXPECT_EQ(ShootLibrary::readTimecodeStart(dir / "plain.mov"), std::nullopt);

    const auto probe = ShootLibrary::probe(dir / "ntsc.mov", "ntsc.mov");
    ASSERT_TRUE(probe);
    EXPECT_EQ(probe->fileName, "ntsc.mov");
    EXPECT_EQ(probe->width, 160);
    EXPECT_EQ(probe->height, 120);
    EXPECT_NEAR(probe->nominalFrameRate, 29.97, 0.01);
    ASSERT_TRUE(probe->duration);
    EXPECT_NEAR(*probe->duration, 1.0, 0.1);
    EXPECT_EQ(probe->timecode, (TimecodeStart{1'294'705, 30, true}));
}

// A clip lasts as long as its pictures: a take finished after a kill keeps the sound recorded past its last
// picture, which the timelines must not show as pictures.
TEST(MovieProbeTest, AClipLastsAsLongAsItsPictures) {
    struct Row {
        const char* name;
        double pictures, sound;  // seconds; no sound track at 0
    };
    const std::vector<Row> rows = {
        {"sound as long as the pictures", 1.0, 1.0},
        {"sound past the last picture, as in a take cut short", 1.0, 1.2},
        {"sound ended before the pictures", 1.0, 0.5},
        {"no sound", 1.0, 0},
    };
    test::TempDir dir;
    for (const auto& row : rows) {
        const auto movie = dir / "take.mov";
        std::string inputs = "-f lavfi -i testsrc=size=160x120:rate=30:d=" + std::to_string(row.pictures);
        if (row.sound > 0) inputs += " -f lavfi -i sine=d=" + std::to_string(row.sound);
        test::makeMovie(movie, inputs, row.sound > 0 ? "-c:v mpeg4 -c:a aac" : "-c:v mpeg4");
        const auto probe = ShootLibrary::probe(movie, "take.mov");
        ASSERT_TRUE(probe && probe->duration) << row.name;
        EXPECT_NEAR(*probe->duration, row.pictures, 0.02) << row.name;
    }
}

TEST(MovieProbeTest, RotatedMoviesReportTheirNaturalSize) {
    test::TempDir dir;
    test::makeTestMovie(dir / "rotated.mov", "25", "");
    // Turn the picture a quarter with the track matrix, as a phone held upright records it.
    std::string bytes = test::readFile(dir / "rotated.mov");
    const auto tkhd = bytes.find("tkhd");
    ASSERT_NE(tkhd, std::string::npos);
    Bytes matrix;
    for (std::uint32_t v : {0u, 0x00010000u, 0u, 0xFFFF0000u, 0u, 0u, 0u, 0u, 0x40000000u}) put32(matrix, v);
    std::copy(matrix.begin(), matrix.end(), bytes.begin() + static_cast<std::ptrdiff_t>(tkhd + 4 + 40));
    test::writeFile(dir / "rotated.mov", bytes);
    ASSERT_EQ(std::system(("ffprobe -v error -show_streams " + test::shellQuote((dir / "rotated.mov").string()) +
                           " | grep -q rotation=-90")
                              .c_str()),
              0);

    const auto probe = ShootLibrary::probe(dir / "rotated.mov", "rotated.mov");
    ASSERT_TRUE(probe);
    EXPECT_EQ(probe->width, 160);
    EXPECT_EQ(probe->height, 120);
    EXPECT_FLOAT_EQ(probe->nominalFrameRate, 25.0f);
}

TEST(MovieProbeTest, SoundOnlyAndNonMoviesHaveNoVideoTrack) {
    test::TempDir dir;
    test::makeMovie(dir / "sound.m4a", "-f lavfi -i sine=d=1", "-c:a aac");
    const auto sound = AssetProbe::load(dir / "sound.m4a");
    ASSERT_TRUE(sound);
    EXPECT_FALSE(sound->firstTrack(AssetProbe::Kind::video));
    EXPECT_FALSE(ShootLibrary::probe(dir / "sound.m4a", "sound.m4a"));
    test::writeFile(dir / "text.mov", "not a movie at all");
    EXPECT_FALSE(AssetProbe::load(dir / "text.mov"));
    EXPECT_FALSE(ShootLibrary::probe(dir / "text.mov", "text.mov"));
    EXPECT_FALSE(AssetProbe::load(dir / "missing.mov"));
    // A playlist must not make the demuxer read other files, even when it is named like a movie.
    test::makeTestMovie(dir / "other.mov", "25", "");
    test::writeFile(dir / "list.mov", "#EXTM3U\n#EXT-X-TARGETDURATION:1\n#EXTINF:1,\nother.mov\n#EXT-X-ENDLIST\n");
    EXPECT_FALSE(AssetProbe::load(dir / "list.mov"));
    EXPECT_FALSE(ShootLibrary::probe(dir / "list.mov", "list.mov"));
}

#if defined(__SANITIZE_ADDRESS__)
std::atomic<std::size_t> largestAllocation{0};
void noteAllocation(const volatile void*, std::size_t size) {
    std::size_t seen = largestAllocation.load();
    while (size > seen && !largestAllocation.compare_exchange_weak(seen, size)) {
    }
}
void noteRelease(const volatile void*) {}
#endif

// A 2 KB movie whose timecode sample description claims a gigabyte: the demuxer allocates what the file claims
// before reading it, and a file from another device must not make it take that much memory.
TEST(MovieProbeTest, HugeClaimedSizesAreNotAllocated) {
#if !defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "needs the sanitizer's allocation hooks";
#else
    test::TempDir dir;
    test::makeTestMovie(dir / "timecode.mov", "25", "10:00:00:00");
    std::string bytes = test::readFile(dir / "timecode.mov");
    std::size_t patched = 0;
    for (auto at = bytes.find("stsd"); at != std::string::npos; at = bytes.find("stsd", at + 4)) {
        if (at + 20 > bytes.size() || bytes.compare(at + 16, 4, "tmcd") != 0) continue;
        bytes.replace(at + 12, 4, std::string("\x3F\xFF\xFF\xF0", 4));  // the entry's size
        ++patched;
    }
    ASSERT_EQ(patched, 1u);
    test::writeFile(dir / "hostile.mov", bytes);

    __sanitizer_install_malloc_and_free_hooks(noteAllocation, noteRelease);
    (void)AssetProbe::load(dir / "hostile.mov");
    (void)ShootLibrary::probe(dir / "hostile.mov", "hostile.mov");
    __sanitizer_install_malloc_and_free_hooks(nullptr, nullptr);
    EXPECT_LE(largestAllocation.load(), std::size_t{256} << 20);
#endif
}

// A minimal Matroska file: one 16x16 picture track and cue points at the given times, in units of `scale` ns.
Bytes ebml(std::initializer_list<std::uint8_t> id, const Bytes& payload) {
    Bytes out(id);
    out.push_back(0x01);  // eight-byte size
    for (int shift = 48; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(payload.size() >> shift));
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}
Bytes ebmlUint(std::initializer_list<std::uint8_t> id, std::uint64_t value) {
    Bytes payload;
    put64(payload, value);
    return ebml(id, payload);
}
Bytes joined(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}
Bytes matroskaWithCues(std::uint64_t scale, std::initializer_list<std::uint64_t> times) {
    const Bytes header =
        ebml({0x1A, 0x45, 0xDF, 0xA3},
             joined({ebmlUint({0x42, 0x86}, 1), ebmlUint({0x42, 0xF7}, 1), ebmlUint({0x42, 0xF2}, 4),
                     ebmlUint({0x42, 0xF3}, 8), ebml({0x42, 0x82}, Bytes{'m', 'a', 't', 'r', 'o', 's', 'k', 'a'}),
                     ebmlUint({0x42, 0x87}, 4), ebmlUint({0x42, 0x85}, 2)}));
    const Bytes info = ebml({0x15, 0x49, 0xA9, 0x66}, ebmlUint({0x2A, 0xD7, 0xB1}, scale));
    const Bytes video = ebml({0xE0}, joined({ebmlUint({0xB0}, 16), ebmlUint({0xBA}, 16)}));
    const Bytes track = ebml({0xAE}, joined({ebmlUint({0xD7}, 1), ebmlUint({0x73, 0xC5}, 1), ebmlUint({0x83}, 1),
                                             ebml({0x86}, Bytes{'V', '_', 'M', 'J', 'P', 'E', 'G'}), video}));
    const auto cuePoint = [](std::uint64_t at) {
        return ebml({0xBB},
                    joined({ebmlUint({0xB3}, at), ebml({0xB7}, joined({ebmlUint({0xF7}, 1), ebmlUint({0xF1}, 0)}))}));
    };
    Bytes points;
    for (auto at : times) {
        const Bytes point = cuePoint(at);
        points.insert(points.end(), point.begin(), point.end());
    }
    const Bytes cues = ebml({0x1C, 0x53, 0xBB, 0x6B}, points);
    const Bytes block = ebml({0xA3}, Bytes{0x81, 0x00, 0x00, 0x80, 0xFF, 0xD8, 0xFF, 0xD9});
    const Bytes cluster = ebml({0x1F, 0x43, 0xB6, 0x75}, joined({ebmlUint({0xE7}, 0), block}));
    return joined(
        {header, ebml({0x18, 0x53, 0x80, 0x67}, joined({ebml({0x16, 0x54, 0xAE, 0x6B}, track), info, cues, cluster}))});
}

// Index times and time bases come from the file: the shortest frame interval must not overflow on them.
TEST(MovieProbeTest, HostileIndexTimesDoNotOverflow) {
    test::TempDir dir;
    const auto load = [&](const std::string& name, const Bytes& bytes) {
        test::writeFile(dir / name, std::string(bytes.begin(), bytes.end()));
        return AssetProbe::load(dir / name);
    };
    // A plain file first, so that the ones below are known to reach the index.
    const auto plain = load("plain.mkv", matroskaWithCues(1'000'000, {0, 40}));
    ASSERT_TRUE(plain && plain->firstTrack(AssetProbe::Kind::video));
    ASSERT_TRUE(plain->firstTrack(AssetProbe::Kind::video)->minFrameDuration);
    EXPECT_NEAR(plain->firstTrack(AssetProbe::Kind::video)->minFrameDuration->seconds(), 0.04, 1e-9);

    // A time base of 2147483647/1e9 times an interval of 2^33 ticks is far beyond 64 bits.
    const auto wide = load("wide.mkv", matroskaWithCues(2'147'483'647, {1ull << 33, 0}));
    ASSERT_TRUE(wide && wide->firstTrack(AssetProbe::Kind::video));
    const auto wideFrame = wide->firstTrack(AssetProbe::Kind::video)->minFrameDuration;
    if (wideFrame) {
        EXPECT_GT(wideFrame->seconds(), 0);
    }
    // Index times at both ends of the signed range: their difference is past 64 bits.
    const auto far = load("far.mkv", matroskaWithCues(1'000'000, {0x8000'0000'0000'0001ull, 1}));
    ASSERT_TRUE(far && far->firstTrack(AssetProbe::Kind::video));
    const auto farFrame = far->firstTrack(AssetProbe::Kind::video)->minFrameDuration;
    if (farFrame) {
        EXPECT_GT(farFrame->seconds(), 0);
    }
}

}  // namespace
}  // namespace morvane
