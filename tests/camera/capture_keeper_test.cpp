// What the keeper does with what an earlier run left, over real folders, stores and a drive of the test's own: each
// row lays down the files a crash leaves, settles as a start does and looks at where the captures went.

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <map>
#include <mutex>
#include <thread>

#include "../end_to_end/drive_machine.h"
#include "camera/capture_keeper.h"
#include "camera/take_files.h"
#include "camera/take_journal.h"
#include "camera/take_recovery.h"
#include "platform/manual_executor.h"
#include "temp_dir.h"
#include "test_files.h"

namespace morvane {
namespace {

namespace fs = std::filesystem;
using Occasion = LeftoverPlan::Occasion;

const fs::path goldenMovie = fs::path(MORVANE_SOURCE_DIR) / "tests/camera/golden/cut-off-take.mov";
const fs::path goldenJournal = fs::path(MORVANE_SOURCE_DIR) / "tests/camera/golden/cut-off-take.journal";
const fs::path firstLayoutJournal =
    fs::path(MORVANE_SOURCE_DIR) / "tests/camera/golden/cut-off-take-first-layout.journal";

// A take cut off as a kill leaves it, recorded by the camera of that identity and name (none: a journal of the first
// layout, which names no camera); `change` makes its journal another's.
void cutTake(const fs::path& movie, const std::string& camera, const std::string& name,
             const std::function<void(JournalContents&)>& change = {}) {
    fs::create_directories(movie.parent_path());
    fs::copy_file(goldenMovie, movie, fs::copy_options::overwrite_existing);
    if (camera.empty()) {
        fs::copy_file(firstLayoutJournal, journalOf(movie), fs::copy_options::overwrite_existing);
        return;
    }
    auto journal = readJournal(test::readFile(goldenJournal));
    journal.header.camera = camera;
    journal.header.cameraName = name;
    if (change) change(journal);
    std::string bytes = journalHeaderBytes(journal.header);
    for (const auto& sample : journal.samples) bytes += journalRecordBytes(sample);
    test::writeFile(journalOf(movie), bytes);
}

// A journal of a take whose first picture was taken at `began` (on the shared clock, as its recorder writes it).
std::function<void(JournalContents&)> beganAt(Date began) {
    return [began](JournalContents& journal) { journal.header.startDate = began.secondsSinceReferenceDate; };
}

// A take that plays, its length.
double finishedTake(const fs::path& movie) {
    const fs::path cut = movie.parent_path() / ("cut " + movie.filename().string());
    cutTake(cut, "A", "Cam A");
    const auto recovered = recoverTake(cut);
    EXPECT_TRUE(recovered.take);
    fs::rename(cut, movie);
    std::error_code ec;
    fs::remove(journalOf(cut), ec);
    fs::remove(reserveOf(cut), ec);
    return recovered.take ? recovered.take->duration : 0;
}

// A camera's stores in its own folder, and its keeper.
struct Camera {
    fs::path folder;
    std::shared_ptr<Defaults> defaults;
    std::shared_ptr<Outbox> outbox;
    std::shared_ptr<CaptureStore> store;
    std::shared_ptr<TakeLog> log;
    std::mutex lock;
    std::vector<CameraEvent> told;
    std::atomic<double> clockOffset{0};
    std::atomic<bool> microphone{false};
    std::shared_ptr<CaptureKeeper> keeper;  // last: gone first, before what it tells into

    Camera(const fs::path& folder, const std::string& identity, const std::string& name,
           const std::shared_ptr<ExternalDrive>& drive, const std::shared_ptr<ManualExecutor>& main)
        : folder(folder) {
        fs::create_directories(folder);
        defaults = std::make_shared<Defaults>(folder / "defaults.json");
        outbox = std::make_shared<Outbox>(folder / "Outbox", main);
        store = std::make_shared<CaptureStore>(folder / "Gallery");
        log = std::make_shared<TakeLog>(folder / "takes.json");
        CaptureKeeper::Collaborators c;
        c.store = store;
        c.outbox = outbox;
        c.takeLog = log;
        c.main = main;
        c.defaults = defaults;
        c.vaultFolder = folder / "Vault";
        c.recordingFolder = folder / "Recording";
        c.photoLibrary = std::make_shared<PhotoLibrary>(folder / "Pictures");
        c.drive = drive;
        c.deviceName = [name] { return name; };
        c.cameraIdentity = [identity] { return identity; };
        c.hasMicrophone = [this] { return microphone.load(); };
        c.clockOffset = [this] { return clockOffset.load(); };
        c.tell = [this](const CameraEvent& event) {
            std::lock_guard held(lock);
            told.push_back(event);
        };
        c.watchInterval = 0.05;
        keeper = CaptureKeeper::make(c);
    }
    // What the keeper still does on its queue tells into `told`: it ends before `told` goes.
    ~Camera() {
        std::weak_ptr<CaptureKeeper> gone = keeper;
        keeper.reset();
        for (const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
             !gone.expired() && std::chrono::steady_clock::now() < end;)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_TRUE(gone.expired()) << "the keeper ends once its queue's work is done";
    }
    // Settles as the occasion asks and waits until it is done.
    void settle(Occasion occasion = Occasion::start) {
        keeper->settle(occasion);
        settled();
    }
    void settled() {
        keeper->queue().sync([] {});
        keeper->queue().sync([] {});
    }
    std::vector<std::string> queued() const {
        std::vector<std::string> names;
        for (const auto& item : outbox->items()) names.push_back(item.info.fileName);
        return names;
    }
    bool toldOf(const std::string& message, bool over = false) {
        std::lock_guard held(lock);
        return std::any_of(told.begin(), told.end(), [&](const CameraEvent& e) {
            return (over ? e.over == true : e.message == message) &&
                   (!over || e.subject == "take:" + fs::path(message).filename().string());
        });
    }
};

// Whether `done` comes true within a time a slow machine gives it.
bool eventually(const std::function<bool()>& done) {
    for (const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
         std::chrono::steady_clock::now() < end;) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

struct Machine {
    test::TempDir dir;
    std::shared_ptr<ManualExecutor> main = std::make_shared<ManualExecutor>();
    fs::path takes = test::machineWithStick(dir / "machine") / "Brindlecroft";
    std::shared_ptr<ExternalDrive> drive = std::make_shared<ExternalDrive>(dir / "machine");
    Camera a{dir / "A", "A", "Cam A", drive, main};
    Camera b{dir / "B", "B", "Cam B", drive, main};
};

TEST(CaptureKeeper, WhatACrashLeftReachesTheRemoteOnceUnderItsOwnCamerasName) {
    struct Row {
        const char* name;
        std::function<void(Machine&)> run;
    };
    const std::vector<Row> rows = {
        {"a vault take killed between its take-log entry and its outbox entry is queued once, into the gallery too",
         [](Machine& m) {
             m.a.defaults->set("useVault", true);
             const std::string name = "2026-03-04 10.11.12 Cam A.mov";
             TakeLog::Entry entry;
             entry.info.fileName = name;
             entry.info.isVideo = true;
             entry.info.duration = finishedTake(m.a.folder / "Vault" / name);
             entry.vaultFile = name;
             entry.queued = false;
             m.a.log->append(entry);
             m.a.settle();
             ASSERT_EQ(m.a.queued(), std::vector<std::string>{name});
             EXPECT_EQ(m.a.outbox->items()[0].location, Outbox::Item::Location::vault);
             EXPECT_TRUE(m.a.store->item(entry.info.id)) << "in the camera's gallery";
             EXPECT_EQ(m.a.log->entry(entry.info.id)->queued, std::nullopt);
             m.a.settle();
             EXPECT_EQ(m.a.queued().size(), 1u) << "queued once";
             m.a.outbox->remove(entry.info.id);  // delivered
             m.a.settle();
             EXPECT_TRUE(m.a.queued().empty()) << "not sent again";
             EXPECT_TRUE(fs::exists(m.a.folder / "Vault" / name));
         }},
        {"a take of this camera's held by another program is finished once that one lets go",
         [](Machine& m) {
             cutTake(m.takes / "Take 0001.mov", "A", "Cam A");
             auto held = std::make_unique<JournalLock>(journalOf(m.takes / "Take 0001.mov"));
             ASSERT_EQ(held->state(), JournalLock::State::taken);
             m.a.settle();
             EXPECT_TRUE(m.a.queued().empty());
             held.reset();
             EXPECT_TRUE(eventually([&] { return m.a.queued().size() == 1; }));
             EXPECT_FALSE(fs::exists(journalOf(m.takes / "Take 0001.mov")));
         }},
        {"two cameras starting at once on one drive file each its own take once, under its own name",
         [](Machine& m) {
             cutTake(m.takes / "Take 0001.mov", "A", "Cam A");
             cutTake(m.takes / "Take 0002.mov", "B", "Cam B");
             m.a.keeper->settle(Occasion::start);
             m.b.keeper->settle(Occasion::start);
             ASSERT_TRUE(eventually([&] { return m.a.queued().size() == 1 && m.b.queued().size() == 1; }));
             m.a.settle();
             m.b.settle();
             ASSERT_EQ(m.a.queued().size(), 1u);
             ASSERT_EQ(m.b.queued().size(), 1u);
             EXPECT_TRUE(m.a.queued()[0].ends_with("Cam A.mov")) << m.a.queued()[0];
             EXPECT_TRUE(m.b.queued()[0].ends_with("Cam B.mov")) << m.b.queued()[0];
             EXPECT_EQ(m.a.log->entries()[0].driveFile, (m.takes / "Take 0001.mov").string());
             EXPECT_EQ(m.b.log->entries()[0].driveFile, (m.takes / "Take 0002.mov").string());
         }},
        {"a start that sees a drive appear as it settles files the drive's take once",
         [](Machine& m) {
             cutTake(m.takes / "Take 0001.mov", "A", "Cam A");
             m.a.keeper->settle(Occasion::start);
             m.a.keeper->settle(Occasion::drives);
             ASSERT_TRUE(eventually([&] { return m.a.queued().size() == 1; }));
             m.a.settle();
             m.a.settle(Occasion::drives);
             EXPECT_EQ(m.a.queued().size(), 1u);
             EXPECT_EQ(m.a.log->entries().size(), 1u);
         }},
        {"a drive back at another mount point: its take stored and queued before is not stored again",
         [](Machine& m) {
             const fs::path movie = m.takes / "Take 0003.mov";
             TakeLog::Entry entry;
             entry.info.fileName = "2026-03-04 10.11.13 Cam A.mov";
             entry.info.isVideo = true;
             entry.info.duration = finishedTake(movie);
             entry.driveFile = "/media/ann/STICK1/Brindlecroft/Take 0003.mov";
             cutTake(m.dir / "journal" / "take.mov", "A", "Cam A");
             fs::copy_file(journalOf(m.dir / "journal" / "take.mov"), journalOf(movie));
             m.a.log->append(entry);
             const std::string queued = entry.info.id.uuidString() + ".mov";
             fs::copy_file(movie, m.a.outbox->directory() / queued);
             m.a.outbox->add({entry.info, Outbox::Item::Location::outbox, queued});
             m.a.settle(Occasion::drives);
             EXPECT_EQ(m.a.queued(), std::vector<std::string>{entry.info.fileName});
             EXPECT_EQ(m.a.log->entries().size(), 1u);
             EXPECT_FALSE(fs::exists(journalOf(movie))) << "its journal went: it is queued";
         }},
        {"a take whose journal names no camera is left as it is, and the crew told",
         [](Machine& m) {
             const fs::path movie = m.takes / "Take 0004.mov";
             cutTake(movie, "", "");
             const std::string bytes = test::readFile(movie);
             m.a.settle();
             EXPECT_TRUE(m.a.queued().empty());
             EXPECT_EQ(test::readFile(movie), bytes);
             EXPECT_TRUE(fs::exists(journalOf(movie)));
             EXPECT_TRUE(m.a.toldOf(LeftoverPlan::nobodysTake(movie)));
         }},
        {"another camera's take is told naming that camera, and taken back once that camera filed it",
         [](Machine& m) {
             const fs::path movie = m.takes / "Take 0005.mov";
             cutTake(movie, "B", "Cam B");
             m.a.settle();
             EXPECT_TRUE(m.a.toldOf(LeftoverPlan::anotherCamerasTake(movie, "Cam B")));
             EXPECT_FALSE(m.a.toldOf(movie.string(), true));
             m.b.settle();
             ASSERT_EQ(m.b.queued().size(), 1u);
             EXPECT_TRUE(eventually([&] { return m.a.toldOf(movie.string(), true); }));
             m.a.settle();
             std::lock_guard held(m.a.lock);
             EXPECT_EQ(std::count_if(m.a.told.begin(), m.a.told.end(),
                                     [](const CameraEvent& e) { return e.kind == CameraEvent::Kind::failed; }),
                       1)
                 << "told once";
         }},
        {"a take its camera is recording is not told of",
         [](Machine& m) {
             const fs::path movie = m.takes / "Take 0006.mov";
             cutTake(movie, "B", "Cam B");
             JournalLock recording(journalOf(movie));
             m.a.settle();
             std::lock_guard held(m.a.lock);
             EXPECT_TRUE(m.a.told.empty());
         }},
        {"a take cut short, or stored and not queued, is named and dated as a take finished then: its journal's "
         "start holds the clock's offset already",
         [](Machine& m) {
             m.a.clockOffset = 3600;
             const Date cut{794'300'000}, stored = cut.addingTimeInterval(60);
             cutTake(m.takes / "Take 0001.mov", "A", "Cam A", beganAt(cut));
             finishedTake(m.takes / "Take 0002.mov");
             cutTake(m.dir / "journal" / "take.mov", "A", "Cam A", beganAt(stored));
             fs::copy_file(journalOf(m.dir / "journal" / "take.mov"), journalOf(m.takes / "Take 0002.mov"));
             m.a.settle();
             std::map<std::string, double> queued;
             for (const auto& item : m.a.outbox->items())
                 queued[item.info.fileName] = item.info.capturedAt.secondsSinceReferenceDate;
             const std::map<std::string, double> expected = {
                 {takeFileName(cut, "Cam A", "mov"), cut.secondsSinceReferenceDate},
                 {takeFileName(stored, "Cam A", "mov"), stored.secondsSinceReferenceDate}};
             EXPECT_EQ(queued, expected);
         }},
        {"a take cut short that cannot be finished is told by the name it would have had, else by its file's name",
         [](Machine& m) {
             m.a.clockOffset = 3600;
             const Date began{794'300'000};
             const fs::path movie = m.takes / "Take 0003.mov";
             cutTake(movie, "A", "Cam A", [began](JournalContents& journal) {
                 beganAt(began)(journal);
                 journal.samples.clear();
             });
             const fs::path bare = m.a.folder / "Recording" / (Uuid().uuidString() + ".mov");
             cutTake(bare, "A", "Cam A");
             fs::remove(journalOf(bare));
             m.a.settle();
             const auto told = [](const std::string& take, const fs::path& movie) {
                 return *TakeRecovery::message(TakeRecovery::Outcome::setAside, take,
                                               movie.string() + TakeRecovery::setAsideSuffix);
             };
             EXPECT_TRUE(m.a.toldOf(told(takeFileName(began, "Cam A", "mov"), movie)));
             EXPECT_TRUE(m.a.toldOf(told(bare.filename().string(), bare)));
         }},
        {"a take cut short whose sound was damaged on the disk is kept without it, the crew told so, not that the "
         "microphone gave nothing",
         [](Machine& m) {
             m.a.microphone = true;
             cutTake(m.takes / "Take 0004.mov", "A", "Cam A", [](JournalContents& journal) {
                 // Its decoder configuration an object type no decoder has, and channels none can be made for.
                 AVCodecParameters& sound = *journal.header.streams.at(1).parameters;
                 ASSERT_GE(sound.extradata_size, 2);
                 sound.extradata[0] = 0xb1;
                 sound.extradata[1] = 0x90;
                 av_channel_layout_uninit(&sound.ch_layout);
                 av_channel_layout_default(&sound.ch_layout, 7);
             });
             m.a.settle();
             ASSERT_EQ(m.a.queued().size(), 1u);
             std::lock_guard held(m.a.lock);
             const auto& told = m.a.told;
             EXPECT_TRUE(std::any_of(told.begin(), told.end(), [&](const CameraEvent& e) {
                 return e.message == CaptureKeeper::soundDamagedMessage &&
                        e.subject == "take:" + m.a.outbox->items()[0].info.fileName;
             }));
             EXPECT_FALSE(std::any_of(told.begin(), told.end(),
                                      [](const CameraEvent& e) { return e.message == CaptureKeeper::noSoundMessage; }));
         }},
        {"writes an earlier run cut off beside the camera's records go",
         [](Machine& m) {
             const fs::path cut[] = {m.a.folder / ".takes.json.abcd1234.tmp",
                                     m.a.folder / "Gallery" / ".index.json.abcd1234.tmp",
                                     m.a.folder / "Gallery" / ".00000000-0000-0000-0000-000000000001.jpg.abcd1234.tmp"};
             for (const auto& file : cut) {
                 test::writeFile(file, "half");
                 fs::last_write_time(file, fs::file_time_type::clock::now() - std::chrono::minutes(1));
             }
             m.a.settle();
             for (const auto& file : cut) EXPECT_FALSE(fs::exists(file)) << file;
         }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Machine machine;
        row.run(machine);
    }
}

// Writes into `file` until its disk is full.
void fillDisk(const fs::path& file) {
    std::ofstream out(file, std::ios::binary);
    const std::string block(4096, '\x5a');
    while (out.write(block.data(), static_cast<std::streamsize>(block.size())) && out.flush()) {
    }
}

// The crew makes room on a full disk (no capture left the outbox): the take that waited for it is finished.
TEST(CaptureKeeper, ATakeWaitingForRoomIsFinishedOnceTheFolderHasMore) {
    Machine m;
    const fs::path recording = m.a.folder / "Recording";
    fs::create_directories(recording);
    if (::geteuid() != 0 || ::mount("tmpfs", recording.c_str(), "tmpfs", 0, "size=4m") != 0)
        GTEST_SKIP() << "needs root to mount a small RAM disk";
    struct Unmount {
        fs::path path;
        ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
    } unmount{recording};
    cutTake(recording / "take.mov", "A", "Cam A");
    fs::remove(reserveOf(recording / "take.mov"));
    fillDisk(recording / "filler");
    m.a.settle();
    EXPECT_TRUE(m.a.queued().empty());
    EXPECT_TRUE(fs::exists(journalOf(recording / "take.mov"))) << "left as it was";
    fs::remove(recording / "filler");
    EXPECT_TRUE(eventually([&] { return m.a.queued().size() == 1; }));
}

}  // namespace
}  // namespace morvane
