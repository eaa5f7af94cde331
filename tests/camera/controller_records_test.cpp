// What a paired remote can make the camera keep: deck edits and program cuts of any number and size, names of any
// length. The camera keeps the newest within bounds, and its status stays far below the link's packet limit.

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>

#include "camera/camera_controller.h"
#include "camera/capture_receiver.h"
#include "camera/standing_notices.h"
#include "camera/take_recovery.h"
#include "link/device_identity.h"
#include "link/link_message.h"
#include "platform/base64.h"
#include "platform/keychain.h"
#include "platform/manual_executor.h"
#include "platform/synthetic_source.h"
#include "temp_dir.h"

namespace morvane {
namespace {

std::size_t namesBytes(const std::vector<DeckEdit>& edits) {
    std::size_t bytes = 0;
    for (const auto& edit : edits) bytes += edit.name.size();
    return bytes;
}

class ControllerRecords : public ::testing::Test {
protected:
    ControllerRecords() {
        CameraController::Options options;
        options.folder = dir / "camera";
        options.main = main;
        options.keychain = std::make_shared<Keychain>(dir / "keychain");
        camera = CameraController::make(options);
    }
    void send(CameraCommand command) { camera->handleCommand(command, std::nullopt); }

    test::TempDir dir;
    std::shared_ptr<ManualExecutor> main = std::make_shared<ManualExecutor>();
    std::shared_ptr<CameraController> camera;
};

TEST_F(ControllerRecords, DeckEditsAreBoundedByCountAndSizeOldestFirst) {
    struct Case {
        const char* label;
        int edits;
        std::size_t nameBytes;
    };
    for (const auto& c : {Case{"many small", 3000, 100}, Case{"few large", 40, 1u << 20}}) {
        SCOPED_TRACE(c.label);
        DeckEdit edit;
        edit.name = std::string(c.nameBytes, 'e');
        edit.pieces = {DeckEdit::Piece{"Cam A", Date{0}, Date{10}}};
        Uuid newest;
        for (int i = 0; i < c.edits; ++i) {
            edit.id = newest = Uuid();
            send(CameraCommand::DeckEdit{edit});
        }
        const auto& kept = camera->deckEdits();
        ASSERT_FALSE(kept.empty());
        EXPECT_LE(kept.size(), CameraController::maxDeckEdits);
        EXPECT_LE(namesBytes(kept), CameraController::maxDeckEditBytes);
        EXPECT_EQ(kept.back().id, newest);
    }
    // An edit sent again with a new name replaces the old one and becomes the newest.
    DeckEdit again = camera->deckEdits().front();
    again.name = "renamed";
    send(CameraCommand::DeckEdit{again});
    EXPECT_EQ(camera->deckEdits().back(), again);
    EXPECT_EQ(std::count_if(camera->deckEdits().begin(), camera->deckEdits().end(),
                            [&](const DeckEdit& e) { return e.id == again.id; }),
              1);
}

TEST_F(ControllerRecords, ACutIsLoggedAtTheMomentTheRemoteMadeIt) {
    struct Case {
        const char* what;
        std::optional<double> madeAgo;  // seconds before now; none: an older remote that sends no moment
        double loggedAgo;               // seconds before now, roughly
    };
    const Case cases[] = {
        {"held back 1.6 s by a slow link", 1.6, 1.6},
        {"from a paused camera's backlog", 40, 40},
        {"from an older remote: when it arrived", std::nullopt, 0},
        {"a moment no link holds a cut back for: when it arrived", 3 * 86400.0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto made = c.madeAgo ? std::optional(Date::now().addingTimeInterval(-*c.madeAgo)) : std::nullopt;
        send(CameraCommand::ProgramCut{c.what, made});
        const auto cuts = camera->cutLog().cuts();
        const auto logged =
            std::find_if(cuts.begin(), cuts.end(), [&](const ProgramCut& k) { return k.camera == c.what; });
        ASSERT_NE(logged, cuts.end());
        EXPECT_NEAR(-logged->at.timeIntervalSinceNow(), c.loggedAgo, 0.5);
    }
}

TEST_F(ControllerRecords, NamesAreBoundedWhereTheyArriveSoEveryStatusStillFits) {
    const std::string huge(16u << 20, 'n');
    for (int i = 0; i < 300; ++i) send(CameraCommand::ProgramCut{huge.substr(0, 1u << 20)});
    // A valid 2×2×2 table under a 16 MiB name.
    std::vector<float> identity;
    for (int b = 0; b < 2; ++b)
        for (int g = 0; g < 2; ++g)
            for (int r = 0; r < 2; ++r) identity.insert(identity.end(), {float(r), float(g), float(b)});
    Bytes table(identity.size() * 4);
    std::memcpy(table.data(), identity.data(), table.size());
    send(CameraCommand::LoadCustomLUT{huge, 2, table});
    send(CameraCommand::ProgramCut{"Cam \xC3\xA9" + huge});

    ASSERT_TRUE(camera->status().customLUTName);
    EXPECT_EQ(camera->status().customLUTName->size(), CameraController::maxReceivedNameBytes);
    ASSERT_TRUE(camera->status().program);
    EXPECT_EQ(camera->status().program->rfind("Cam \xC3\xA9", 0), 0u);
    EXPECT_LE(camera->status().program->size(), CameraController::maxReceivedNameBytes);
    std::size_t cutBytes = 0;
    for (const auto& cut : camera->cutLog().cuts()) cutBytes += cut.camera.size();
    EXPECT_LE(cutBytes, 301 * CameraController::maxReceivedNameBytes);
    EXPECT_LT(camera->statusPacket().size(), LinkMessage::maxPacket / 64);
}

// The remote asks for a preview larger than the link carries: the link refuses the packet, and the camera says so.
// Each ProRes flavour FFmpeg's encoder here writes is offered: all of them.
TEST_F(ControllerRecords, OffersTheProResFlavoursItsEncoderWrites) {
    EXPECT_EQ(camera->status().proResCodecs,
              (std::vector<VideoCodec>{VideoCodec::proRes4444XQ, VideoCodec::proRes4444, VideoCodec::proRes422HQ,
                                       VideoCodec::proRes422, VideoCodec::proRes422LT, VideoCodec::proRes422Proxy}));
}

TEST_F(ControllerRecords, PreviewTooLargeToSendIsReported) {
    CaptureStore::Pending pending;
    pending.item.id = Uuid();
    pending.preview = Bytes(LinkMessage::maxPacket, 0xff);
    camera->store().add(pending);
    camera->handleCommand(CameraCommand::RequestPreview{pending.item.id}, PeerId{Uuid()});
    for (int i = 0; i < 500 && !camera->message(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        main->runPending();
    }
    EXPECT_EQ(camera->message(), "Couldn't send a preview to the remote: it is too large");
}

// When a capture whose transfer failed may go again. A remote's answer makes it wait, doubling up to 300 s; a link
// that went mid-transfer does not, and leaves the count of waits as it was. Time is a steady clock's: a wall clock set
// back an hour while a capture waits changes nothing.
// A camera in this process on a folder of the test's own, filming the synthetic picture.
struct Filming {
    explicit Filming(const std::filesystem::path& folder, const std::filesystem::path& machine = "/") {
        CameraController::Options options;
        options.folder = folder;
        options.driveRoot = machine;
        options.main = main;
        options.keychain = std::make_shared<Keychain>(folder / "keychain");
        options.session.interfaces = {"127.0.0.1"};
        camera = CameraController::make(options);
    }
    ~Filming() { camera->stop(); }
    bool start() { return camera->start(std::make_unique<SyntheticSource>(SyntheticSource::Settings{320, 180})); }
    // Waits, letting the main queue run unless it is held (a camera that ends before it gets to it).
    bool eventually(const std::function<bool()>& done, bool runMain = true) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (std::chrono::steady_clock::now() < end) {
            if (runMain) main->runPending();
            if (done()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    std::shared_ptr<ManualExecutor> main = std::make_shared<ManualExecutor>();
    std::shared_ptr<CameraController> camera;
};

// The camera ended just after a take was stored, before its main queue got to anything: the take is in the take log
// on the disk all the same, so that it has its deck copy later.
TEST(TakeLogOfTakes, ATakeIsInTheTakeLogOnTheDiskOnceItIsStored) {
    test::TempDir dir;
    Filming filming(dir / "camera");
    ASSERT_TRUE(filming.start());
    auto& camera = *filming.camera;
    camera.handleCommand(CameraCommand::SetMode{CaptureMode::video}, std::nullopt);
    camera.handleCommand(CameraCommand::StartRecording{}, std::nullopt);
    const auto recording = [&] {
        bool on = false;
        camera.streamer().dataQueue().sync([&] { on = camera.streamer().isRecording(); });
        return on;
    };
    ASSERT_TRUE(filming.eventually(recording, false));
    camera.handleCommand(CameraCommand::StopRecording{}, std::nullopt);
    ASSERT_TRUE(filming.eventually([&] { return !recording(); }, false));
    camera.streamer().waitForTakes();
    const TakeLog onDisk(dir / "camera" / "takes.json");
    ASSERT_EQ(onDisk.entries().size(), 1u);
    EXPECT_TRUE(onDisk.entries()[0].photoAssetID);
    EXPECT_TRUE(camera.outbox().item(onDisk.entries()[0].info.id)) << "the take that was queued";
}

// A deck copy cut short by the end of the camera: the next start makes it again, and what it left goes.
TEST(TakeLogOfTakes, ADeckCopyCutShortIsMadeAgainAtTheNextStart) {
    test::TempDir dir;
    const auto folder = dir / "camera";
    std::filesystem::create_directories(folder / "Pictures" / "Brindlecroft");
    MovieRecorder::Options options;
    options.video = {.codec = MovieVideoSettings::Codec::h264, .width = 320, .height = 180};
    options.frameRate = 30;
    options.destination = folder / "Pictures" / "Brindlecroft" / "Take.mov";
    options.queueLimit = 100;
    auto recorder = MovieRecorder::make(options);
    ASSERT_TRUE(recorder);
    for (int i = 0; i < 15; ++i)
        recorder->append(VideoFrame{SyntheticSource::makePicture({.width = 320, .height = 180}, i), i / 30.0});
    ASSERT_TRUE(recorder->finish());
    TakeLog::Entry entry;
    entry.info.fileName = "Take.mov";
    entry.info.isVideo = true;
    entry.info.duration = 0.5;
    entry.photoAssetID = "Take.mov";
    TakeLog(folder / "takes.json").append(entry);
    const auto partial = folder / "Deck copies" / ("." + entry.info.id.uuidString() + ".mov.partial");
    std::filesystem::create_directories(partial.parent_path());
    std::ofstream(partial) << "cut short";

    Filming filming(folder);
    ASSERT_TRUE(filming.start());
    EXPECT_TRUE(filming.eventually([&] { return filming.camera->deckOutbox().item(entry.info.id).has_value(); }));
    EXPECT_FALSE(std::filesystem::exists(partial));
    EXPECT_TRUE(std::filesystem::exists(folder / "Deck copies" / (entry.info.id.uuidString() + ".mov")));
}

// A drive that held a take when the camera ended (a crash, a power cut) and is plugged in while the camera runs: the
// take is finished there, stays there as the drive's own, and a copy is queued for the remote.
TEST(TakeLogOfTakes, ATakeCutShortOnADriveIsFinishedWhenTheDriveAppears) {
    namespace fs = std::filesystem;
    test::TempDir dir;
    const auto machine = dir / "machine";
    const auto drive = machine / "media/user/STICK/Brindlecroft";
    fs::create_directories(machine / "sys/block/sdb");
    fs::create_directories(machine / "proc/self");
    fs::create_directories(drive);
    std::ofstream(machine / "sys/block/sdb/removable") << "1\n";
    std::ofstream(machine / "proc/self/mounts") << "/dev/sda1 / ext4 rw 0 0\n";

    // The files as a kill leaves them, copied while the take is recorded once its journal holds a second. The take
    // is the camera's own: its journal names it.
    MovieRecorder::Options options;
    options.video = {.codec = MovieVideoSettings::Codec::h264, .width = 320, .height = 180};
    options.frameRate = 30;
    options.destination = dir / "Take 0001.mov";
    options.camera = base64Encode(DeviceIdentity(std::make_shared<Keychain>(dir / "camera" / "keychain")).publicKey());
    options.queueLimit = 100;
    auto recorder = MovieRecorder::make(options);
    ASSERT_TRUE(recorder);
    for (int i = 0; i < 60; ++i)
        recorder->append(VideoFrame{SyntheticSource::makePicture({.width = 320, .height = 180}, i), i / 30.0});
    const fs::path recorded = *options.destination;
    const auto copyCut = [&](const fs::path& folder) {
        const auto movie = folder / "Take 0001.mov";
        fs::create_directories(folder);
        fs::copy_file(journalOf(recorded), journalOf(movie), fs::copy_options::overwrite_existing);
        fs::copy_file(recorded, movie, fs::copy_options::overwrite_existing);
        fs::copy_file(reserveOf(recorded), reserveOf(movie), fs::copy_options::overwrite_existing);
        return movie;
    };
    bool cut = false;
    for (int i = 0; i < 400 && !cut; ++i) {
        auto probe = recoverTake(copyCut(dir / "probe")).take;
        cut = probe && probe->duration >= 1.0;
        if (!cut) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_TRUE(cut);
    copyCut(drive);
    ASSERT_TRUE(recorder->finish());

    Filming filming(dir / "camera", machine);
    ASSERT_TRUE(filming.start());
    std::ofstream(machine / "proc/self/mounts")
        << "/dev/sda1 / ext4 rw 0 0\n/dev/sdb1 /media/user/STICK exfat rw 0 0\n";
    filming.main->advance(2.0);  // the camera looks for its drive every second
    ASSERT_TRUE(filming.eventually([&] { return filming.camera->outbox().items().size() == 1; }));
    const auto queued = filming.camera->outbox().items()[0];
    EXPECT_GE(*queued.info.duration, 1.0);
    EXPECT_TRUE(fs::exists(filming.camera->outbox().directory() / queued.fileName));
    std::vector<fs::path> onDrive;
    for (const auto& entry : fs::directory_iterator(drive)) onDrive.push_back(entry.path().filename());
    EXPECT_EQ(onDrive, std::vector<fs::path>{"Take 0001.mov"}) << "the drive keeps its take, without its journal";
}

TEST(TransferHoldsTest, AnAnsweredFailureWaitsALostLinkDoesNot) {
    static_assert(TransferHolds::Clock::is_steady);
    enum Kind { refused, lost, ask };
    struct Event {
        double at;  // seconds on the steady clock
        Kind kind;
        bool mayGo = false;
    };
    struct Case {
        const char* what;
        std::vector<Event> events;
    };
    const Case cases[] = {
        {"refused: 5 s", {{0, refused}, {4.9, ask, false}, {5, ask, true}}},
        {"refused again: 10 s", {{0, refused}, {5, refused}, {14.9, ask, false}, {15, ask, true}}},
        {"refused again and again: never over 300 s",
         {{0, refused},
          {5, refused},
          {15, refused},
          {35, refused},
          {75, refused},
          {155, refused},
          {315, refused},
          {615, refused},
          {914.9, ask, false},
          {915, ask, true}}},
        {"link lost: goes once the link is back", {{0, lost}, {0, ask, true}}},
        {"link lost after a refusal: goes at once, and the next refusal still doubles",
         {{0, refused}, {5, lost}, {5, ask, true}, {6, refused}, {15.9, ask, false}, {16, ask, true}}},
    };
    const Uuid id;
    const auto start = TransferHolds::Clock::now();
    for (const auto& c : cases) {
        TransferHolds holds;
        EXPECT_TRUE(holds.mayGo(id, start)) << c.what;
        for (const auto& e : c.events) {
            const auto now =
                start + std::chrono::duration_cast<TransferHolds::Clock::duration>(std::chrono::duration<double>(e.at));
            if (e.kind == ask)
                EXPECT_EQ(holds.mayGo(id, now), e.mayGo) << c.what << " at " << e.at;
            else
                holds.failed(id, e.kind == lost, now);
        }
        holds.forget(id);
        EXPECT_TRUE(holds.mayGo(id, start)) << c.what;
    }
}

// What a remote that connects is told of what the camera said before: a notice about a subject until it is over, a
// failure or the end of a notice that no remote heard once; the newest of a subject, and the newest few in all.
TEST(StandingNoticesTest, ARemoteThatConnectsHearsWhatStillHoldsAndWhatNobodyHeard) {
    const auto failed = [](std::string message, std::optional<std::string> subject = std::nullopt) {
        return CameraEvent{.kind = CameraEvent::Kind::failed, .message = std::move(message), .subject = subject};
    };
    const CameraEvent over{.subject = "microphone", .over = true};
    using Said = std::vector<std::optional<std::string>>;  // the messages greeted with, then with at the next greeting
    const std::tuple<const char*, std::vector<std::pair<CameraEvent, bool>>, Said, Said> cases[] = {
        {"a failure nobody heard: to the first remote alone", {{failed("Set aside"), false}}, {"Set aside"}, {}},
        {"the newest of a subject, at its turn, to every remote",
         {{failed("Mic", "microphone"), true},
          {failed("Late", "realTime"), true},
          {failed("Mic!", "microphone"), true}},
         {"Late", "Mic!"},
         {"Late", "Mic!"}},
        {"over, heard", {{failed("Mic", "microphone"), true}, {over, true}}, {}, {}},
        {"over, unheard: told once", {{failed("Mic", "microphone"), true}, {over, false}}, {std::nullopt}, {}},
    };
    const auto said = [](const std::vector<CameraEvent>& events) {
        Said said;
        for (const auto& event : events) said.push_back(event.message);
        return said;
    };
    for (const auto& [what, told, greeted, greetedAgain] : cases) {
        StandingNotices notices;
        for (const auto& [event, heard] : told) notices.tell(event, heard);
        EXPECT_EQ(said(notices.greet()), greeted) << what;
        EXPECT_EQ(said(notices.greet()), greetedAgain) << what;
    }
    StandingNotices notices;
    for (std::size_t i = 0; i <= StandingNotices::capacity; ++i)
        notices.tell(failed(std::to_string(i), "take:" + std::to_string(i)), true);
    EXPECT_EQ(notices.greet().front().message, "1") << "the oldest goes";
}

// What a remote knows a notice by, to leave one its crew dismissed unshown: the same occurrence each time the camera
// tells it again, also from another run for a take's notice; a new one once its cause comes again. What a remote that
// connects hears is marked as told again.
TEST(StandingNoticesTest, ANoticeToldAgainTellsTheSameOccurrenceAndItsCauseComingAgainAnother) {
    const auto failed = [](std::string message, std::optional<std::string> subject = std::nullopt) {
        return CameraEvent{.kind = CameraEvent::Kind::failed, .message = std::move(message), .subject = subject};
    };
    const auto mic = failed("Mic", "microphone");
    const auto take = failed("A take cut short was finished: 3 s of it kept", "take:A.mov");
    const CameraEvent over{.subject = "microphone", .over = true};
    struct Row {
        const char* what;
        CameraEvent first;
        std::vector<CameraEvent> between;
        CameraEvent then;
        bool sameRun;
        bool same;
    };
    const Row rows[] = {
        {"the same words again", mic, {}, mic, true, true},
        {"told in between of another subject", mic, {failed("Late", "realTime")}, mic, true, true},
        {"other words", mic, {}, failed("Mic!", "microphone"), true, false},
        {"again after its end", mic, {over}, mic, true, false},
        {"a take's notice from another run of the camera", take, {}, take, false, true},
        {"another notice of that take", take, {}, failed("It is set aside", "take:A.mov"), true, false},
    };
    for (const auto& row : rows) {
        StandingNotices notices, later;
        const auto first = notices.told(row.first, true);
        for (const auto& event : row.between) notices.told(event, true);
        const auto then = (row.sameRun ? notices : later).told(row.then, true);
        ASSERT_TRUE(first.occurrence && then.occurrence) << row.what;
        EXPECT_EQ(*first.occurrence == *then.occurrence, row.same) << row.what;
        EXPECT_FALSE(then.retold) << row.what;
    }
    StandingNotices notices;
    const auto told = notices.told(mic, true);
    const auto greeted = notices.greet();
    ASSERT_EQ(greeted.size(), 1u);
    EXPECT_EQ(greeted[0].occurrence, told.occurrence);
    EXPECT_EQ(greeted[0].retold, true);
}

// Who gets the next capture, of the remotes that said they take files: the first one that files captures in its
// shoot library, whatever decks are paired; a deck (it asked for deck copies) never, also one of an older kind that
// says it takes files. With only decks, the captures wait on the camera.
TEST(CaptureReceiverTest, CapturesGoToARemoteThatFilesThemNeverToADeck) {
    auto peer = [](int n) {
        std::array<std::uint8_t, 16> bytes{};
        bytes[15] = static_cast<std::uint8_t>(n);
        return PeerId{Uuid(bytes)};
    };
    struct Row {
        const char* what;
        std::set<int> takingFiles;
        std::set<int> decks;
        std::optional<int> receiver;
    };
    const std::vector<Row> rows = {
        {"nobody takes files", {}, {}, std::nullopt},
        {"one remote", {5}, {}, 5},
        {"two remotes: the first", {7, 5}, {}, 5},
        {"a remote and a deck that does not take files", {5}, {2}, 5},
        {"a remote and an older deck that says it does, first in order", {2, 5}, {2}, 5},
        {"older decks only", {2, 3}, {2, 3}, std::nullopt},
    };
    for (const auto& row : rows) {
        std::set<PeerId> takingFiles, decks;
        for (int n : row.takingFiles) takingFiles.insert(peer(n));
        for (int n : row.decks) decks.insert(peer(n));
        std::optional<PeerId> expected;
        if (row.receiver) expected = peer(*row.receiver);
        EXPECT_EQ(captureReceiver(takingFiles, decks), expected) << row.what;
    }
}

}  // namespace
}  // namespace morvane
