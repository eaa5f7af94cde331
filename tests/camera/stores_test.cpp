// The camera's stores and records: outbox, capture store, take log, clock and cut records, sound level, the
// external drive, and capture file names.

#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>
#include <QImageWriter>
#include <algorithm>
#include <fstream>
#include <thread>

#include "camera/audio_peak_meter.h"
#include "camera/capture_store.h"
#include "camera/clock_sync.h"
#include "camera/cut_log.h"
#include "camera/external_drive.h"
#include "camera/outbox.h"
#include "camera/take_log.h"
#include "platform/defaults.h"
#include "platform/manual_executor.h"
#include "scoped_env.h"
#include "temp_dir.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
}

namespace morvane {
namespace {

namespace fs = std::filesystem;

TransferInfo info(int n) {
    TransferInfo i;
    i.fileName = "Take " + std::to_string(n) + ".mov";
    i.capturedAt = Date{800'000'000.0 + n};
    i.isVideo = true;
    i.duration = 2.5;
    return i;
}

void writeText(const fs::path& file, const std::string& text) {
    std::ofstream(file, std::ios::binary) << text;
}

std::string readText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// MARK: - Outbox

TEST(Outbox, ConcurrentAdditionsAllReachTheFileAndCountsArriveInOrder) {
    test::TempDir dir;
    auto main = std::make_shared<ManualExecutor>();
    Outbox outbox(dir.path(), main);
    std::vector<int> counts;
    outbox.setOnCountChanged([&](int n) { counts.push_back(n); });
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 10; ++i) outbox.add({info(t * 100 + i), Outbox::Item::Location::outbox, "x.mov"});
        });
    }
    for (auto& t : threads) t.join();
    main->runPending();
    ASSERT_EQ(counts.size(), 80u);
    for (int i = 0; i < 80; ++i) EXPECT_EQ(counts[static_cast<std::size_t>(i)], i + 1);
    Outbox reloaded(dir.path(), main);
    EXPECT_EQ(reloaded.items().size(), 80u);
    EXPECT_EQ(reloaded.items(), outbox.items());

    EXPECT_TRUE(outbox.remove(outbox.items()[3].info.id));
    EXPECT_FALSE(outbox.remove(Uuid()));
    EXPECT_EQ(Outbox(dir.path(), main).items().size(), 79u);
}

TEST(Outbox, ACallbackInstalledBeforeTheReportRunsHearsIt) {
    test::TempDir dir;
    auto main = std::make_shared<ManualExecutor>();
    Outbox outbox(dir.path(), main);
    outbox.add({info(1), Outbox::Item::Location::vault, "a.mov"});
    int heard = 0;
    outbox.setOnCountChanged([&](int n) { heard = n; });
    main->runPending();
    EXPECT_EQ(heard, 1);
}

TEST(Outbox, AFailedWriteKeepsTheEntryAndStillReports) {
    test::TempDir dir;
    auto main = std::make_shared<ManualExecutor>();
    Outbox outbox(dir / "box", main);
    fs::permissions(dir / "box", fs::perms::owner_read | fs::perms::owner_exec);
    int heard = 0;
    outbox.setOnCountChanged([&](int n) { heard = n; });
    outbox.add({info(1), Outbox::Item::Location::outbox, "a.mov"});
    main->runPending();
    EXPECT_EQ(heard, 1);
    EXPECT_EQ(outbox.items().size(), 1u);
}

TEST(Outbox, LoadingSkipsBadEntriesAndSetsAsideAFileThatIsNoList) {
    test::TempDir dir;
    auto main = std::make_shared<ManualExecutor>();
    const Json good = Outbox::encode({info(1), Outbox::Item::Location::vault, "a.mov"});
    Json list = Json::array({good, Json{{"info", good["info"]}, {"location", "cloud"}, {"fileName", "b"}},
                             Json{{"location", "outbox"}}, 42,
                             Json{{"info", good["info"]}, {"location", "outbox"}, {"fileName", "../../etc"}}});
    writeText(dir / "outbox.json", list.dump());
    Outbox outbox(dir.path(), main);
    ASSERT_EQ(outbox.items().size(), 1u);
    EXPECT_EQ(outbox.items()[0].location, Outbox::Item::Location::vault);

    test::TempDir other;
    writeText(other / "outbox.json", R"({"not":"a list"})");
    Outbox kept(other.path(), main);
    EXPECT_TRUE(kept.items().empty());
    EXPECT_TRUE(fs::exists(other / "outbox.json.unreadable"));
    kept.add({info(2), Outbox::Item::Location::outbox, "c.mov"});
    EXPECT_EQ(readText(other / "outbox.json.unreadable"), R"({"not":"a list"})");

    test::TempDir truncated;
    writeText(truncated / "outbox.json", list.dump().substr(0, 40));
    EXPECT_TRUE(Outbox(truncated.path(), main).items().empty());
    EXPECT_TRUE(fs::exists(truncated / "outbox.json.unreadable"));
}

// What an earlier run left in the outbox's folder: a capture placed but never listed is listed, one whose bytes are
// at the receiver goes, the temporary files of a list or a copy cut short go, and nothing else is touched.
TEST(Outbox, TheStartSettlesWhatAnEarlierRunLeftInTheFolder) {
    struct Row {
        std::string file;
        Outbox::Unlisted::Kind told;  // what the records say of it, when asked
        bool listed;
        bool kept;
    };
    const Row rows[] = {
        {"waiting.mov", Outbox::Unlisted::Kind::waiting, true, true},
        {"sent.mov", Outbox::Unlisted::Kind::sent, false, false},
        {"unknown.jpg", Outbox::Unlisted::Kind::unknown, false, true},
        {"listed.mov", Outbox::Unlisted::Kind::sent, true, true},  // never asked: its entry names it
        {".outbox.json.xy12ab34.tmp", Outbox::Unlisted::Kind::waiting, false, false},
        {".placing-12345678.tmp", Outbox::Unlisted::Kind::waiting, false, false},
        {".hidden.mov", Outbox::Unlisted::Kind::waiting, false, true},
    };
    test::TempDir dir;
    auto main = std::make_shared<ManualExecutor>();
    writeText(dir / "outbox.json",
              Json::array({Outbox::encode({info(9), Outbox::Item::Location::outbox, "listed.mov"})}).dump());
    for (const auto& row : rows) writeText(dir / row.file, "footage");
    Outbox outbox(dir.path(), main);
    std::vector<std::string> asked;
    outbox.settleUnlisted([&](const std::string& name) {
        asked.push_back(name);
        for (const auto& row : rows) {
            if (row.file == name) return Outbox::Unlisted{row.told, info(static_cast<int>(asked.size()))};
        }
        return Outbox::Unlisted{};
    });
    for (const auto& row : rows) {
        const auto items = outbox.items();
        const bool listed =
            std::any_of(items.begin(), items.end(), [&](const auto& i) { return i.fileName == row.file; });
        EXPECT_EQ(listed, row.listed) << row.file;
        EXPECT_EQ(fs::exists(dir / row.file), row.kept) << row.file;
    }
    EXPECT_EQ(Outbox(dir.path(), main).items().size(), 2u) << "the listing is written";
}

TEST(CaptureNames, TakeFileNames) {
    {
        test::ScopedEnv tz("TZ", "UTC");
        tzset();
        const Date date = Date::fromUnix(1772719629);  // 2026-03-05 14:07:09 UTC
        struct Case {
            std::string device, name;
        } cases[] = {
            {"Cam A/B", "2026-03-05 14.07.09 Cam A-B.heic"},
            {"a:b/c", "2026-03-05 14.07.09 a-b-c.heic"},
            {std::string("Cam\nA\x01\x7f"), "2026-03-05 14.07.09 Cam-A--.heic"},
        };
        for (const auto& c : cases) EXPECT_EQ(takeFileName(date, c.device, "heic"), c.name);
        EXPECT_EQ(takeFileName(Date::fromUnix(1772755199), "X", "jpg"), "2026-03-05 23.59.59 X.jpg");
        EXPECT_EQ(takeFileName(Date::fromUnix(1772755200), "X", "jpg"), "2026-03-06 00.00.00 X.jpg");
        EXPECT_LE(takeFileName(date, std::string(400, 'x'), "heic").size(), 255u);
        // A long name is cut between characters, never inside one.
        std::string accents;
        for (int i = 0; i < 200; ++i) accents += "\xC3\xA9";
        const std::string cut = takeFileName(date, accents, "heic");
        EXPECT_LE(cut.size(), 255u);
        EXPECT_EQ((cut.size() - std::string("2026-03-05 14.07.09 .heic").size()) % 2, 0u);
    }
    tzset();
}

TEST(CaptureNames, VaultNamesAndTheSendSetting) {
    test::TempDir vault;
    EXPECT_EQ(uniqueVaultName(vault.path(), "2026 Cam A.heic"), "2026 Cam A.heic");
    writeText(vault / "2026 Cam A.heic", "x");
    EXPECT_EQ(uniqueVaultName(vault.path(), "2026 Cam A.heic"), "2026 Cam A 2.heic");
    writeText(vault / "2026 Cam A 2.heic", "x");
    EXPECT_EQ(uniqueVaultName(vault.path(), "2026 Cam A.heic"), "2026 Cam A 3.heic");

    test::TempDir config;
    Defaults defaults(config / "defaults.json");
    EXPECT_TRUE(sendsToMac(defaults));
    defaults.set("sendToMac", "no");
    EXPECT_TRUE(sendsToMac(defaults));
    defaults.set("sendToMac", false);
    EXPECT_FALSE(sendsToMac(defaults));
}

// MARK: - Capture store

Bytes jpegOf(const QImage& image, std::optional<QImageIOHandler::Transformations> turn = std::nullopt) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "JPEG");
    if (turn) writer.setTransformation(*turn);
    writer.write(image);
    return Bytes(bytes.begin(), bytes.end());
}

CaptureStore::Pending pending(bool vault) {
    CaptureStore::Pending p;
    p.item.id = Uuid();
    p.item.thumbnail = {1, 2, 3};
    if (vault) p.item.vaultFile = "v.heic";
    p.preview = {0xFF, 0xD8, 0xFF};
    return p;
}

TEST(CaptureStore, PreviewsAreUprightAndShrunk) {
    QImage wide(3200, 1600, QImage::Format_RGB32);
    wide.fill(Qt::red);
    auto made = CaptureStore::makePending(jpegOf(wide));
    ASSERT_TRUE(made);
    const QImage preview = QImage::fromData(made->preview.data(), static_cast<int>(made->preview.size()));
    EXPECT_EQ(preview.size(), QSize(1600, 800));
    const QImage thumb = QImage::fromData(made->item.thumbnail.data(), static_cast<int>(made->item.thumbnail.size()));
    EXPECT_EQ(thumb.size(), QSize(240, 120));
    EXPECT_FALSE(made->item.isVideo);
    EXPECT_FALSE(made->item.vaultFile);

    // Pixels stored sideways with an orientation tag come out upright.
    QImage stored(400, 200, QImage::Format_RGB32);
    stored.fill(Qt::blue);
    auto turned = CaptureStore::makePending(jpegOf(stored, QImageIOHandler::TransformationRotate90));
    ASSERT_TRUE(turned);
    EXPECT_EQ(QImage::fromData(turned->preview.data(), static_cast<int>(turned->preview.size())).size(),
              QSize(200, 400));

    EXPECT_FALSE(CaptureStore::makePending(Bytes{'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e'}));
}

TEST(CaptureStore, KeepsSixtyCapturesOutsideTheVault) {
    test::TempDir dir;
    CaptureStore store(dir.path());
    std::vector<Uuid> plain;
    for (int i = 0; i < 100; ++i) store.add(pending(true));
    for (int i = 0; i < 60; ++i) {
        auto p = pending(false);
        plain.push_back(p.item.id);
        store.add(p);
    }
    EXPECT_EQ(store.items().size(), 160u);
    EXPECT_TRUE(fs::exists(dir / (plain.front().uuidString() + ".jpg")));
    store.add(pending(false));
    EXPECT_EQ(store.items().size(), 160u);
    EXPECT_FALSE(store.item(plain.front()));
    EXPECT_FALSE(fs::exists(dir / (plain.front().uuidString() + ".jpg")));
    EXPECT_EQ(CaptureStore(dir.path()).items().size(), 160u);
    EXPECT_EQ(store.preview(plain.back()), (Bytes{0xFF, 0xD8, 0xFF}));
    EXPECT_EQ(store.remove({plain.back(), Uuid()}).size(), 1u);
    EXPECT_EQ(CaptureStore(dir.path()).items().size(), 159u);
}

TEST(CaptureStore, AdditionsFromTwoThreadsAreSavedOneAfterTheOther) {
    test::TempDir dir;
    CaptureStore store(dir.path());
    auto a = pending(false);
    std::thread t([&] { store.add(a); });
    t.join();
    auto b = pending(false);
    store.add(b);
    const auto items = CaptureStore(dir.path()).items();
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].id, b.item.id);  // newest first
    writeText(dir / "index.json", "[1, {\"id\": 3}]");
    EXPECT_TRUE(CaptureStore(dir.path()).items().empty());
}

// MARK: - Take log

TEST(TakeLog, EntriesKeepTheirKeysAndSkipBadOnes) {
    TakeLog::Entry e{info(1), true, std::nullopt, std::nullopt, std::nullopt, false};
    Json j = TakeLog::encode(e);
    EXPECT_FALSE(j.contains("appleLog2"));
    EXPECT_FALSE(j.contains("vaultFile"));
    EXPECT_EQ(TakeLog::decode(j), e);
    Json nulls = j;
    nulls["vaultFile"] = nullptr;
    EXPECT_EQ(TakeLog::decode(nulls), e);
    Json wrongType = j;
    wrongType["appleLog2"] = "yes";
    EXPECT_FALSE(TakeLog::decode(wrongType));
    Json noCopied = j;
    noCopied.erase("copied");
    EXPECT_FALSE(TakeLog::decode(noCopied));

    test::TempDir dir;
    {
        TakeLog log(dir / "takes.json");
        log.append(e);
        auto second = e;
        second.info = info(2);
        second.vaultFile = "v.mov";
        log.append(second);
        EXPECT_TRUE(log.markCopied(second.info.id));
        EXPECT_FALSE(log.markCopied(Uuid()));
    }
    TakeLog reloaded(dir / "takes.json");
    ASSERT_EQ(reloaded.entries().size(), 2u);
    EXPECT_TRUE(reloaded.entries()[1].copied);
    EXPECT_EQ(reloaded.entries()[1].vaultFile, "v.mov");
}

// MARK: - Clock and cuts

TEST(ClockSync, TheQuickestAnswerSetsTheOffset) {
    ClockSync sync;
    EXPECT_EQ(sync.offset(), 0);
    EXPECT_TRUE(sync.addSample(1000.0, 1000.2, 1010.1));  // offset 10.0, 200 ms
    EXPECT_DOUBLE_EQ(sync.offset(), 10.0);
    EXPECT_TRUE(sync.addSample(1001.0, 1001.02, 1011.51));  // offset 10.5, 20 ms: wins
    EXPECT_NEAR(sync.offset(), 10.5, 1e-9);
    EXPECT_TRUE(sync.addSample(1002.0, 1002.1, 1013.05));  // slower: ignored for the estimate
    EXPECT_NEAR(sync.offset(), 10.5, 1e-9);
    EXPECT_FALSE(sync.addSample(1003.0, 1002.9, 1013.0));  // runs backwards
    EXPECT_FALSE(sync.addSample(1003.0, 1010.0, 1013.0));  // far too slow
    EXPECT_FALSE(sync.addSample(NAN, 1003.0, 1013.0));
    // Sixteen slower samples push the quick one out.
    for (int i = 0; i < 16; ++i) sync.addSample(2000.0 + i, 2000.1 + i, 2008.05 + i);
    EXPECT_NEAR(sync.offset(), 8.0, 1e-9);
    sync.setMaster(PeerId{Uuid()});
    EXPECT_EQ(sync.offset(), 0);
}

TEST(CutLog, CutsOfATakeStartWithTheCameraOnAir) {
    CutLog log;
    log.add({"B", Date{20}});
    log.add({"A", Date{10}});
    log.add({"C", Date{40}});
    EXPECT_EQ(log.cuts().front().camera, "A");
    const auto take = log.cuts(Date{15}, Date{40});
    ASSERT_EQ(take.size(), 2u);
    EXPECT_EQ(take[0].camera, "A");
    EXPECT_EQ(take[1].camera, "B");
}

// MARK: - Sound level

TEST(AudioPeak, LevelsOfEachSampleFormat) {
    struct Case {
        float peak;
        int level;
    } levels[] = {{1.0f, 255}, {0.0f, 0}, {0.001f, 0}, {0.1f, 170}, {0.5f, 229}};
    for (const auto& c : levels) EXPECT_EQ(peakLevelByte(c.peak), c.level) << c.peak;

    float peak = 0;
    const std::int32_t fullInt[] = {0, std::numeric_limits<std::int32_t>::min()};
    peakOfSamples({reinterpret_cast<const std::uint8_t*>(fullInt), sizeof fullInt}, {false, 32}, peak);
    EXPECT_EQ(peakLevelByte(peak), 255);
    peak = 0;
    const std::int16_t fullShort[] = {-32768, 3};
    peakOfSamples({reinterpret_cast<const std::uint8_t*>(fullShort), sizeof fullShort}, {false, 16}, peak);
    EXPECT_FLOAT_EQ(peak, 1.0f);
    peak = 0;
    const double doubles[] = {0.25, -0.5};
    peakOfSamples({reinterpret_cast<const std::uint8_t*>(doubles), sizeof doubles}, {true, 64}, peak);
    EXPECT_FLOAT_EQ(peak, 0.5f);
    peak = 0.2f;
    const float nan[] = {NAN, 0.1f};
    peakOfSamples({reinterpret_cast<const std::uint8_t*>(nan), sizeof nan}, {true, 32}, peak);
    EXPECT_FLOAT_EQ(peak, 0.2f);
    peak = 0;
    const std::uint8_t threeBytes[] = {0xFF, 0xFF, 0x7F, 0, 0, 0x80};
    peakOfSamples(threeBytes, {false, 24}, peak);
    EXPECT_EQ(peak, 0);  // 24-bit samples are not read
    peak = 0;
    const std::uint8_t partial[] = {0, 0x80, 0x01};  // one whole 16-bit sample and a stray byte
    peakOfSamples(partial, {false, 16}, peak);
    EXPECT_FLOAT_EQ(peak, 1.0f);

    AVFrame* raw = av_frame_alloc();
    raw->format = AV_SAMPLE_FMT_DBLP;
    raw->nb_samples = 4;
    av_channel_layout_default(&raw->ch_layout, 2);
    ASSERT_GE(av_frame_get_buffer(raw, 0), 0);
    for (int c = 0; c < 2; ++c) {
        auto* s = reinterpret_cast<double*>(raw->data[c]);
        for (int i = 0; i < 4; ++i) s[i] = c == 1 && i == 2 ? -0.1 : 0.0;
    }
    EXPECT_EQ(audioPeakLevel(*raw), 170);
    raw->nb_samples = 0;
    EXPECT_FALSE(audioPeakLevel(*raw));
    av_frame_free(&raw);
}

// MARK: - External drive

struct Machine {
    test::TempDir root;
    void disk(const std::string& name, bool removable) {
        fs::create_directories(root / "sys/block" / name);
        writeText(root / "sys/block" / name / "removable", removable ? "1\n" : "0\n");
    }
    void mounts(const std::string& table) {
        fs::create_directories(root / "proc/self");
        writeText(root / "proc/self/mounts", table);
    }
};

TEST(ExternalDrive, TheFirstRemovableDriveTakesTheRecording) {
    Machine m;
    m.disk("sda", false);
    m.disk("sdb", true);
    m.disk("mmcblk0", true);
    fs::create_directories(m.root / "media/user/MY\\ CARD");
    fs::create_directories(m.root / "media/user/STICK");
    m.mounts(
        "/dev/sda1 / ext4 rw 0 0\n"
        "tmpfs /run tmpfs rw 0 0\n"
        "/dev/mmcblk0p1 /media/user/MY\\134\\040CARD vfat ro 0 0\n"
        "/dev/sdb1 /media/user/STICK exfat rw 0 0\n");
    ExternalDrive drive(m.root.path());
    auto device = drive.currentDevice();
    ASSERT_TRUE(device);
    EXPECT_EQ(device->device, "/dev/mmcblk0p1");
    EXPECT_EQ(device->mountPoint, "/media/user/MY\\ CARD");
    EXPECT_TRUE(device->readOnly);
    auto status = drive.status();
    ASSERT_TRUE(status);
    EXPECT_EQ(status->name, "MY\\ CARD");
    EXPECT_TRUE(status->warning);
    EXPECT_FALSE(drive.nextRecordingURL());  // read-only: record on the machine instead
    fs::create_directories(m.root / "media/user/MY\\ CARD/Brindlecroft");
    EXPECT_TRUE(drive.recordingFolders().empty()) << "a take cut short there cannot be finished in place";

    m.mounts("/dev/sda1 / ext4 rw 0 0\n/dev/sdb1 /media/user/STICK exfat rw 0 0\n");
    std::vector<std::optional<DriveStatus>> reports;
    drive.onChange = [&](const std::optional<DriveStatus>& s) { reports.push_back(s); };
    drive.refresh();
    drive.refresh();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0]->name, "STICK");
    EXPECT_GT(reports[0]->freeBytes, 0);
    auto first = drive.nextRecordingURL();
    auto second = drive.nextRecordingURL();
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->filename(), "Take 0001.mov");
    EXPECT_EQ(second->filename(), "Take 0002.mov");
    EXPECT_EQ(first->parent_path(), m.root / "media/user/STICK/Brindlecroft");
    EXPECT_EQ(drive.recordingFolders(), std::vector<fs::path>{first->parent_path()}) << "looked at after a crash";

    m.mounts("/dev/sda1 / ext4 rw 0 0\n");
    drive.refresh();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_FALSE(reports[1]);
    EXPECT_FALSE(drive.nextRecordingURL());
}

}  // namespace
}  // namespace morvane
