#include "controller_fixture.h"

#include <unistd.h>

#include <QCoreApplication>

#include <cstdlib>
#include <fstream>
#include <thread>

#include "remote/notification_hub.h"

namespace morvane {
namespace {

using FilesTest = ControllerTest;

std::filesystem::path writeFile(const std::filesystem::path& path, const std::string& body) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << body;
    return path;
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<std::filesystem::path> filesUnder(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> out;
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(folder, error);
         it != std::filesystem::recursive_directory_iterator(); ++it)
        if (it->is_regular_file()) out.push_back(it->path());
    return out;
}

// Runs a delivery-thread callback the way the link does, off the main thread.
template <class F>
void onDeliveryThread(F&& f) {
    std::thread thread(std::forward<F>(f));
    thread.join();
}

TEST_F(FilesTest, AnnouncedFileIsFiledUnderItsDescription) {
    make();
    connect({{1, "Cam A"}});
    TransferInfo info;
    info.id = Uuid();
    info.fileName = "IMG_0001.jpg";
    info.capturedAt = Date::now();
    info.isVideo = false;
    deliverMessage(PacketType::transferInfo, info, 1);
    const auto file = writeFile(root / "link" / "incoming", "photo bytes");
    onDeliveryThread([&] { controller->receiveShootFile(file, info.id.uuidString(), peer(1)); });
    EXPECT_FALSE(controller->incomingFile(info.id.uuidString()));
    EXPECT_FALSE(std::filesystem::exists(file));
    main->runPending();
    ASSERT_TRUE(controller->message());
    ASSERT_EQ(controller->message()->rfind("Saved ", 0), 0u);
    const auto name = controller->message()->substr(6);
    const auto filed = shoot->folderURL(info.capturedAt) / name;
    EXPECT_EQ(readFile(filed), "photo bytes");
    EXPECT_EQ(filed.extension(), ".jpg");
    EXPECT_NE(name.find("Cam A"), std::string::npos);
}

TEST_F(FilesTest, UnannouncedFilesAreStillFiled) {
    make();
    const auto id = Uuid();
    auto file = writeFile(root / "link" / "a", "movie");
    // A lower-case UUID name is the same identifier.
    std::string lower = id.uuidString();
    for (auto& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    onDeliveryThread([&] { controller->receiveShootFile(file, lower, peer(1)); });
    main->runPending();
    ASSERT_TRUE(controller->message());
    auto filed = shoot->folderURL(clock) / controller->message()->substr(6);
    EXPECT_EQ(readFile(filed), "movie");
    EXPECT_EQ(filed.extension(), ".mov");
    EXPECT_NE(filed.filename().string().find("Camera"), std::string::npos);

    // A name that is no identifier never reaches the file system.
    file = writeFile(root / "link" / "b", "other");
    onDeliveryThread([&] { controller->receiveShootFile(file, "../../escape", peer(1)); });
    main->runPending();
    filed = shoot->folderURL(clock) / controller->message()->substr(6);
    EXPECT_EQ(readFile(filed), "other");
    for (const auto& path : filesUnder(root)) EXPECT_EQ(path.string().find("escape"), std::string::npos) << path;
}

TEST_F(FilesTest, AFileThatCannotBeFiledIsKeptAside) {
    writeFile(root / "blocker", "not a folder");
    ShootLibrary blocked(ShootLibrary::Environment{defaults.get(), root / "blocker"});
    auto env = environment();
    env.shootLibrary = &blocked;
    controller = MonitorController::create(
        4, false, [] { return 0.0; }, env);
    TransferInfo info;
    info.id = Uuid();
    info.fileName = "../../../etc/passwd";
    info.capturedAt = clock;
    info.isVideo = true;
    controller->handlePeerData(*encodeMessage(PacketType::transferInfo, info), peer(1));
    const auto file = writeFile(root / "link" / "x", "precious");
    onDeliveryThread([&] { controller->receiveShootFile(file, info.id.uuidString(), peer(1)); });
    main->runPending();
    // The folder is named by its name; its whole path goes with it.
    EXPECT_EQ(controller->message(),
              "Couldn't save a file from Camera: kept in Unfiled until the shoot folder takes it");
    ASSERT_EQ(controller->notices().size(), 1u);
    EXPECT_EQ(controller->notices()[0].folders,
              (std::vector<NoticeBoard::Folder>{{"Unfiled", (root / "Unfiled").string()}}));
    auto kept = filesUnder(root / "Unfiled");
    ASSERT_EQ(kept.size(), 2u);  // the capture and its description
    std::erase_if(kept, [](const auto& path) { return path.filename().string().starts_with("."); });
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].parent_path(), root / "Unfiled");
    EXPECT_EQ(readFile(kept[0]), "precious");
    EXPECT_EQ(kept[0].filename(), "passwd.mov");

    // The cable's files take the same way; a second one gets a name of its own.
    const auto wired = writeFile(root / "usb" / "y", "also precious");
    info.fileName = "passwd";
    MonitorController::importReceivedFile(controller, env, wired, info, "Wired");
    main->runPending();
    // The captures kept aside meanwhile are told in one, until read.
    main->advance(MonitorController::noticeDuration);
    EXPECT_EQ(controller->message(),
              "Couldn't save 2 files from the cameras: kept in Unfiled until the shoot folder takes them");
    EXPECT_EQ(controller->notices().size(), 1u);
    EXPECT_EQ(filesUnder(root / "Unfiled").size(), 4u);
}

// A capture the shoot folder cannot take (here its folder cannot be made) waits in the fallback folder with its
// description; once the folder takes captures again, the next capture filed or the next try brings it into the
// library as its camera described it, also when import was turned on only after the start.
TEST_F(FilesTest, KeptCapturesReachTheLibraryWithTheirDescriptionsOnceItTakesThem) {
    struct Row {
        const char* what;
        bool nextTry;
        bool importsAtStart;
    };
    for (const Row row : {Row{"capture", false, true}, Row{"try", true, true}, Row{"try-turned-on", true, false}}) {
        SCOPED_TRACE(row.what);
        const bool nextTry = row.nextTry;
        defaults->set(MonitorController::importsFilesKey, row.importsAtStart);
        const auto movies = root / row.what;
        const auto fallback = root / (std::string(row.what) + "-Unfiled");
        writeFile(movies / "Brindlecroft", "in the way");
        ShootLibrary library(ShootLibrary::Environment{defaults.get(), movies});
        auto env = environment();
        env.shootLibrary = &library;
        env.fallbackFolder = fallback;
        controller = MonitorController::create(
            4, false, [] { return 0.0; }, env);
        controller->start();
        registered.clear();
        connect({{1, "Cam B"}});
        TransferInfo info;
        info.id = Uuid();
        info.fileName = "clip.mov";
        info.capturedAt = clock;
        info.isVideo = true;
        info.duration = 4.0;
        info.cuts = std::vector<ProgramCut>{{"Cam B", clock.addingTimeInterval(1)}};
        deliverMessage(PacketType::transferInfo, info, 1);
        const auto file = writeFile(root / "link" / "x", "precious");
        onDeliveryThread([&] { controller->receiveShootFile(file, info.id.uuidString(), peer(1)); });
        main->runPending();
        EXPECT_EQ(controller->message(), "Couldn't save a file from Cam B: kept in " + fallback.filename().string() +
                                             " until the shoot folder takes it");

        std::filesystem::remove(movies / "Brindlecroft");
        defaults->set(MonitorController::importsFilesKey, true);
        if (nextTry) {
            main->advance(MonitorController::keptFilingInterval);
        } else {
            TransferInfo photo;
            photo.id = Uuid();
            photo.fileName = "photo.jpg";
            photo.capturedAt = clock.addingTimeInterval(60);
            deliverMessage(PacketType::transferInfo, photo, 1);
            const auto next = writeFile(root / "link" / "y", "photo");
            onDeliveryThread([&] { controller->receiveShootFile(next, photo.id.uuidString(), peer(1)); });
        }
        const auto day = library.folderURL(clock);
        const auto filed = [&]() -> std::optional<ShootLibrary::Clip> {
            library.waitUntilIdle();
            const auto manifest = ShootLibrary::decodeManifest(readFile(day / ShootLibrary::manifestName));
            if (!manifest) return std::nullopt;
            for (const auto& clip : manifest->clips)
                if (clip.id == info.id) return clip;
            return std::nullopt;
        };
        for (int i = 0; i < 1000 && !filed(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const auto clip = filed();
        ASSERT_TRUE(clip) << "the kept capture is not in the library";
        EXPECT_EQ(clip->camera, "Cam B");
        EXPECT_EQ(clip->start, clock);
        EXPECT_EQ(clip->duration, 4.0);
        EXPECT_TRUE(clip->isVideo);
        EXPECT_EQ(clip->take, 1);
        EXPECT_EQ(readFile(day / clip->file), "precious");
        const auto cuts = ShootLibrary::decodeManifest(readFile(day / ShootLibrary::manifestName))->cuts;
        EXPECT_EQ(cuts, (std::vector<ProgramCut>{{"Cam B", clock.addingTimeInterval(1)}}));
        controller->stop();
        controller.reset();  // its filing is over before the library goes
        EXPECT_TRUE(filesUnder(fallback).empty());
    }
}

// With neither the shoot library nor the fallback folder usable, a file is answered as not received (the link and
// the cable turn the throw into that answer), so that the camera keeps its only copy and sends it again. A fallback
// folder that would keep the capture but not its description counts as unusable: nothing would ever file it.
TEST_F(FilesTest, AFileThatCanBeNeitherFiledNorKeptIsNotReceived) {
    writeFile(root / "blocker", "not a folder");
    ShootLibrary blocked(ShootLibrary::Environment{defaults.get(), root / "blocker"});
    auto env = environment();
    env.shootLibrary = &blocked;
    TransferInfo info;
    info.id = Uuid();
    info.fileName = "clip.mov";
    info.capturedAt = clock;
    info.isVideo = true;
    const auto undescribed = root / "Undescribed";
    for (const auto& name : {info.fileName, info.id.uuidString() + ".mov"})
        std::filesystem::create_directories(undescribed / ("." + name + ".json"));
    for (const auto& fallback : {root / "blocker" / "Unfiled", undescribed}) {
        env.fallbackFolder = fallback;
        controller = MonitorController::create(
            4, false, [] { return 0.0; }, env);
        const std::vector<std::pair<std::string, std::function<void(const std::filesystem::path&)>>> paths{
            {"peer link", [&](const auto& file) { controller->receiveShootFile(file, info.id.uuidString(), peer(1)); }},
            {"after the controller",
             [&](const auto& file) { MonitorController::receiveShootFile(env, file, info.id.uuidString()); }},
            {"cable",
             [&](const auto& file) { MonitorController::importReceivedFile(controller, env, file, info, "C"); }},
        };
        for (const auto& [label, receive] : paths) {
            const auto file = writeFile(root / "link" / label, "only copy");
            EXPECT_ANY_THROW(receive(file)) << label << " " << fallback;
            EXPECT_EQ(readFile(file), "only copy") << label << " " << fallback;
        }
        main->runPending();
        EXPECT_TRUE(controller->message()) << fallback;
        main->advance(MonitorController::noticeDuration);
        EXPECT_EQ(controller->message(), "Couldn't save a file from C") << fallback;
        EXPECT_TRUE(filesUnder(undescribed).empty());
    }
}

TEST_F(FilesTest, CableFilesSaySoAndNeedNoController) {
    make();
    TransferInfo info;
    info.id = Uuid();
    info.fileName = "clip.mov";
    info.capturedAt = clock;
    info.isVideo = true;
    auto file = writeFile(root / "usb" / "a", "wired");
    onDeliveryThread([&] { MonitorController::importReceivedFile(controller, environment(), file, info, "Cam"); });
    main->runPending();
    ASSERT_TRUE(controller->message());
    const auto& text = *controller->message();
    ASSERT_GT(text.size(), 12u);
    EXPECT_EQ(text.rfind("Saved ", 0), 0u);
    EXPECT_EQ(text.substr(text.size() - 6), " (USB)");
    EXPECT_EQ(readFile(shoot->folderURL(clock) / text.substr(6, text.size() - 12)), "wired");

    std::weak_ptr<MonitorController> gone;
    info.id = Uuid();
    file = writeFile(root / "usb" / "b", "still filed");
    MonitorController::importReceivedFile(gone, environment(), file, info, "Cam");
    EXPECT_EQ(main->runPending(), 1u);  // the message finds no controller
    EXPECT_FALSE(std::filesystem::exists(file));
}

// A capture filed in the default folder because the chosen shoot folder is not there (a drive unplugged) says
// where it went and why, over the link and over the cable; one filed where the user chose says only its name.
TEST_F(FilesTest, ACaptureFiledAwayFromTheChosenFolderSaysWhereAndWhy) {
    enum Choice { none, there, thereWithSlash, gone, unmounted };
    struct Row {
        const char* what;
        Choice choice;
        bool cable;
    };
    const std::vector<Row> rows = {
        {"no folder chosen", none, false},
        {"the chosen folder there", there, false},
        {"the chosen folder there, stored with a final slash", thereWithSlash, false},
        {"the chosen folder gone", gone, false},
        {"the chosen folder gone, over the cable", gone, true},
        {"the chosen folder's drive unmounted, its folder left", unmounted, false},
    };
    const auto chosen = root / "Drive" / "Shoot";
    const auto fallbackDay = root / "Movies" / "Brindlecroft" / ShootLibrary::dayKeyString(clock);
    // What the file system says of the chosen folder.
    auto mountedOn = std::make_shared<std::optional<std::filesystem::path>>(root / "Drive");
    shoot = std::make_unique<ShootLibrary>(ShootLibrary::Environment{
        defaults.get(), root / "Movies", [mountedOn](const std::filesystem::path&) { return *mountedOn; }});
    make();
    for (const auto& row : rows) {
        std::filesystem::remove_all(root / "Drive");
        if (row.choice != none && row.choice != gone) std::filesystem::create_directories(chosen);
        const auto stored = row.choice == none ? "" : chosen.string() + (row.choice == thereWithSlash ? "/" : "");
        defaults->set(std::string(ShootLibrary::bookmarkKey), stored);
        if (row.choice == unmounted) {
            shoot->chooseFolder(chosen);
            *mountedOn = "/";
        }
        TransferInfo info;
        info.id = Uuid();
        info.fileName = "clip.mov";
        info.capturedAt = clock;
        info.isVideo = true;
        const auto file = writeFile(root / "arriving" / "clip", row.what);
        if (row.cable)
            MonitorController::importReceivedFile(controller, environment(), file, info, "Cam");
        else
            controller->receiveShootFile(file, info.id.uuidString(), peer(1));
        main->runPending();
        const bool away = row.choice == gone || row.choice == unmounted;
        const auto day = row.choice == none || away ? fallbackDay : chosen / ShootLibrary::dayKeyString(clock);
        std::string name;
        for (const auto& path : filesUnder(day))
            if (readFile(path) == row.what) name = path.filename().string();
        ASSERT_FALSE(name.empty()) << row.what;
        std::string expected = "Saved " + name + (row.cable ? " (USB)" : "");
        std::vector<NoticeBoard::Folder> folders;
        // Why first, then where, each folder by its name with its whole path.
        if (away) {
            expected = "The shoot folder Shoot isn't there" +
                       std::string(row.choice == unmounted ? " (its drive isn't mounted)" : "") + ": saved " + name +
                       (row.cable ? " (USB)" : "") + " in Brindlecroft › " + ShootLibrary::dayKeyString(clock);
            folders = {{"Shoot", chosen.string()},
                       {"Brindlecroft › " + ShootLibrary::dayKeyString(clock), day.string()}};
        }
        if (row.choice == unmounted) {
            EXPECT_TRUE(filesUnder(root / "Drive").empty());
        }
        EXPECT_EQ(controller->message(), expected) << row.what;
        ASSERT_EQ(controller->notices().size(), 1u) << row.what;
        EXPECT_EQ(controller->notices()[0].folders, folders) << row.what;
        EXPECT_EQ(controller->notices()[0].stays, away) << row.what;
        if (away) controller->dismissNotice(controller->notices()[0].id);
        main->advance(MonitorController::noticeDuration);
    }
}

// A take of two cameras filed while the shoot folder is away is two files, told as such; once the folder is back,
// the notice goes by itself.
TEST_F(FilesTest, FilesKeptAwayFromTheShootFolderAreCountedAsFilesUntilItIsBack) {
    const auto chosen = root / "Drive" / "Shoot";
    defaults->set(std::string(ShootLibrary::bookmarkKey), chosen.string());
    make();
    controller->start();
    for (int camera : {1, 2})
        controller->receiveShootFile(writeFile(root / "arriving" / "clip", "take"), Uuid().uuidString(), peer(camera));
    main->runPending();
    EXPECT_EQ(controller->message(), "The shoot folder Shoot isn't there: saved 2 files in Brindlecroft › " +
                                         ShootLibrary::dayKeyString(clock));
    main->advance(MonitorController::statsInterval);
    EXPECT_EQ(controller->notices().size(), 2u) << "still away (said from the start, and where the files went)";
    std::filesystem::create_directories(chosen);
    main->advance(MonitorController::statsInterval);
    EXPECT_TRUE(controller->notices().empty());
}

// A remote that starts says at once what holds of its own state, not at the next capture: the chosen shoot folder
// isn't there, captures wait in the fallback folder for a shoot folder that takes them. Dismissed, it stays so while
// it holds, also after a restart; once the folder was back and went again, it is told again.
TEST_F(FilesTest, ARemoteThatStartsSaysWhatHoldsOfItsOwnState) {
    const auto staying = [&] {
        std::vector<std::string> shown;
        for (const auto& notice : controller->notices())
            if (notice.stays) shown.push_back(notice.text);
        return shown;
    };
    const auto restart = [&](const MonitorEnvironment& env) {
        if (controller) controller->stop();
        controller = MonitorController::create(
            4, false, [] { return 0.0; }, env);
        controller->start();
        main->runPending();
    };
    const auto chosen = root / "Drive" / "Shoot";
    defaults->set(std::string(ShootLibrary::bookmarkKey), chosen.string());
    const std::vector<std::string> away{"The shoot folder Shoot isn't there: captures are saved in Brindlecroft"};
    restart(environment());
    EXPECT_EQ(staying(), away);
    main->advance(MonitorController::statsInterval);
    ASSERT_EQ(staying(), away) << "said once";
    controller->dismissNotice(controller->notices()[0].id);
    main->advance(MonitorController::statsInterval);
    EXPECT_TRUE(staying().empty()) << "read, while it holds";
    restart(environment());
    EXPECT_TRUE(staying().empty()) << "read, after a restart";
    std::filesystem::create_directories(chosen);
    main->advance(MonitorController::statsInterval);
    // Moved off at once: the library may be making its day folder there meanwhile.
    std::filesystem::rename(root / "Drive", root / "Drive away");
    main->advance(MonitorController::statsInterval);
    restart(environment());
    EXPECT_EQ(staying(), away) << "gone again";

    defaults->set(std::string(ShootLibrary::bookmarkKey), std::string());
    writeFile(root / "blocked" / "Brindlecroft", "in the way");
    ShootLibrary blocked(ShootLibrary::Environment{defaults.get(), root / "blocked"});
    auto env = environment();
    env.shootLibrary = &blocked;
    restart(env);
    // The kept captures tried again (after a time, on a queue of their own), and what that says.
    const auto triedAgain = [&](std::size_t shown) {
        main->advance(MonitorController::keptFilingInterval);
        for (int i = 0; i < 300 && staying().size() != shown; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            main->runPending();
        }
        return staying();
    };
    controller->receiveShootFile(writeFile(root / "arriving" / "clip", "take"), Uuid().uuidString(), peer(1));
    main->runPending();
    ASSERT_EQ(staying().size(), 1u);
    controller->dismissNotice(controller->notices()[0].id);
    EXPECT_TRUE(triedAgain(1).empty()) << "read, the same capture waiting is no news";
    controller->receiveShootFile(writeFile(root / "arriving" / "clip", "take"), Uuid().uuidString(), peer(1));
    main->runPending();
    restart(env);
    for (int i = 0; i < 1000 && staying().empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        main->runPending();
    }
    const std::vector<std::string> waiting{
        "Couldn't save 2 files from the cameras: kept in Unfiled until the shoot folder takes them"};
    ASSERT_EQ(staying(), waiting);
    controller->dismissNotice(controller->notices()[0].id);
    EXPECT_TRUE(triedAgain(1).empty()) << "read, after a restart";
    controller->stop();
    controller.reset();  // its filing is over before the library goes
}

// An ext4 file system in an image file, mounted on a folder through a loop device.
class LoopDrive {
public:
    LoopDrive(std::filesystem::path image, std::filesystem::path folder)
        : image_(std::move(image)), folder_(std::move(folder)) {}
    ~LoopDrive() {
        // Something may still hold a file open there: detached lazily then, so the temporary folder can go.
        if (mounted_ && !unmount()) run("umount -l '" + folder_.string() + "'");
    }
    LoopDrive(const LoopDrive&) = delete;
    LoopDrive& operator=(const LoopDrive&) = delete;

    /// Why it could not be made and mounted; none when it is mounted.
    std::optional<std::string> mount() {
        if (::geteuid() != 0) return "mounting needs root";
        std::filesystem::create_directories(folder_);
        if (!std::filesystem::exists(image_) &&
            !run("truncate -s 16M '" + image_.string() + "' && mkfs.ext4 -q -F '" + image_.string() + "'"))
            return "mkfs.ext4 failed";
        if (!run("mount -o loop '" + image_.string() + "' '" + folder_.string() + "'"))
            return "mount -o loop failed (no loop devices here?)";
        mounted_ = true;
        return std::nullopt;
    }
    bool unmount() {
        mounted_ = mounted_ && !run("umount '" + folder_.string() + "'");
        return !mounted_;
    }

private:
    static bool run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

    std::filesystem::path image_;
    std::filesystem::path folder_;
    bool mounted_ = false;
};

// The shoot folder is a drive's mount folder (an fstab mount, say); unmounted between two takes, it stays on the
// system disk, bare. The second take goes to the default folder and says why, and nothing is written in the bare
// folder, where the drive mounted again would hide it.
TEST_F(FilesTest, TakesAfterTheShootFolderDriveIsUnmountedGoToTheDefaultFolder) {
    const auto drive = root / "Drive";
    LoopDrive loop(root / "drive.img", drive);
    if (const auto why = loop.mount()) GTEST_SKIP() << "no loop-mounted drive here: " << *why;
    shoot->chooseFolder(drive);
    make();
    const auto key = ShootLibrary::dayKeyString(clock);
    const auto take = [&](const std::string& body) {
        const auto file = writeFile(root / "arriving" / "clip", body);
        controller->receiveShootFile(file, Uuid().uuidString(), peer(1));
        main->runPending();
        shoot->waitUntilIdle();  // nothing of the library's left open on the drive
    };

    take("first take");
    ASSERT_TRUE(controller->message());
    ASSERT_EQ(controller->message()->rfind("Saved ", 0), 0u);
    const auto first = drive / key / controller->message()->substr(6);
    EXPECT_EQ(readFile(first), "first take");
    main->advance(MonitorController::noticeDuration);
    ASSERT_TRUE(loop.unmount());
    EXPECT_FALSE(std::filesystem::exists(first));

    clock = clock.addingTimeInterval(60);
    take("second take");
    const auto fallbackDay = root / "Movies" / "Brindlecroft" / ShootLibrary::dayKeyString(clock);
    std::vector<std::filesystem::path> filed;
    for (const auto& path : filesUnder(fallbackDay))
        if (readFile(path) == "second take") filed.push_back(path);
    ASSERT_EQ(filed.size(), 1u);
    EXPECT_EQ(controller->message(),
              "The shoot folder " + drive.filename().string() + " isn't there (its drive isn't mounted): saved " +
                  filed[0].filename().string() + " in Brindlecroft › " + ShootLibrary::dayKeyString(clock));
    EXPECT_TRUE(std::filesystem::is_empty(drive)) << "written on the system disk under the mount folder";

    // Mounted again, the drive holds what its manifest lists: the first take alone.
    ASSERT_FALSE(loop.mount());
    const auto day = ShootLibrary::decodeManifest(readFile(drive / key / ShootLibrary::manifestName));
    ASSERT_TRUE(day);
    ASSERT_EQ(day->clips.size(), 1u);
    EXPECT_EQ(readFile(drive / key / day->clips[0].file), "first take");
}

TEST_F(FilesTest, FilesArriveThroughTheLinkWhateverTheSettingSaidAtStart) {
    defaults->set("importsFiles", false);
    make();
    controller->start();
    const auto file = writeFile(root / "link" / "z", "sent anyway");
    onDeliveryThread([&] { link->onResource(file, Uuid().uuidString(), peer(1)); });
    main->runPending();
    ASSERT_TRUE(controller->message());
    EXPECT_EQ(readFile(shoot->folderURL(clock) / controller->message()->substr(6)), "sent anyway");
}

TEST_F(FilesTest, FilesArrivingAfterTheControllerIsGoneAreStillFiled) {
    // The shared link outlives the screen's controller by its stop delay; a transfer that ends meanwhile is
    // still filed.
    make(true);
    controller->start();
    controller->stop();
    controller.reset();
    const auto id = Uuid();
    const auto file = writeFile(root / "link" / "late", "late take");
    onDeliveryThread([&] { link->onResource(file, id.uuidString(), peer(1)); });
    EXPECT_FALSE(std::filesystem::exists(file));
    std::vector<std::filesystem::path> filed;
    for (const auto& path : filesUnder(shoot->folderURL(clock)))
        if (readFile(path) == "late take") filed.push_back(path);
    ASSERT_EQ(filed.size(), 1u);
    EXPECT_EQ(filed[0].extension(), ".mov");
    EXPECT_EQ(main->runPending(), 0u);  // no message: there is no screen to show it
}

TEST_F(FilesTest, DeckCopiesGoToTheTakeLibrary) {
    make();
    controller->setCollectsDeckCopies(true);
    controller->start();
    connect({{1, "Cam"}});
    auto file = writeFile(root / "link" / "copy", "deck copy");
    onDeliveryThread([&] { link->onResource(file, Uuid().uuidString(), peer(1)); });
    main->runPending();
    EXPECT_TRUE(std::filesystem::exists(file));  // unannounced: not kept, the link deletes it
    EXPECT_FALSE(controller->message());

    TransferInfo info;
    info.id = Uuid();
    info.fileName = "copy.mov";
    info.capturedAt = clock;
    info.isVideo = true;
    info.duration = 4;
    deliverMessage(PacketType::transferInfo, info, 1);
    onDeliveryThread([&] { link->onResource(file, info.id.uuidString(), peer(1)); });
    main->runPending();
    EXPECT_FALSE(controller->message());
    EXPECT_EQ(readFile(root / "Retouch" / (info.id.uuidString() + ".mov")), "deck copy");

    // A take library that cannot take the copy: said so, and the copy kept aside.
    std::filesystem::remove_all(root / "Retouch");
    writeFile(root / "Retouch", "in the way");
    info.id = Uuid();
    deliverMessage(PacketType::transferInfo, info, 1);
    file = writeFile(root / "link" / "copy2", "second copy");
    onDeliveryThread([&] { link->onResource(file, info.id.uuidString(), peer(1)); });
    main->runPending();
    EXPECT_EQ(controller->message(), "Couldn't keep a take from Cam");
    ASSERT_EQ(filesUnder(root / "Unfiled").size(), 1u);
    EXPECT_EQ(readFile(filesUnder(root / "Unfiled")[0]), "second copy");
}

TEST_F(FilesTest, ExportedDeckEditsAreForwardedToTheCameras) {
    make();
    controller->setCollectsDeckCopies(true);
    controller->start();
    connect({{1, "A"}, {2, "B"}});
    status(1);
    link->clearSent();
    DeckEdit edit;
    edit.id = Uuid();
    edit.name = "Take 1";
    NotificationHub::shared().postDeckEditExported(edit);
    auto commands = link->commandsTo(peer(1));
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0].as<CameraCommand::DeckEdit>()->edit, edit);
    EXPECT_TRUE(link->packetsTo(peer(2)).empty());  // no status yet

    link->clearSent();
    NotificationHub::shared().postDeckEditExported(QVariant(42));
    NotificationHub::shared().postDeckEditExported(QVariant());
    EXPECT_TRUE(link->sent().empty());

    // An edit too large for the link is refused there: the user hears so, and nothing is handed over.
    DeckEdit large = edit;
    large.name = "Long take";
    large.pieces.assign(20000, DeckEdit::Piece{std::string(1000, 'c'), Date{0}, Date{1}});
    NotificationHub::shared().postDeckEditExported(large);
    EXPECT_TRUE(link->sent().empty());
    EXPECT_EQ(controller->message(), "Couldn't send the edit Long take to A: it is too large");

    controller->stop();
    NotificationHub::shared().postDeckEditExported(edit);
    EXPECT_TRUE(link->sent().empty());
}

TEST_F(FilesTest, DeckEditsFromAnotherThreadArriveOnTheMainThread) {
    make();
    controller->setCollectsDeckCopies(true);
    controller->start();
    connect({{1, "A"}});
    status(1);
    link->clearSent();
    DeckEdit edit;
    edit.id = Uuid();
    onDeliveryThread([&] { NotificationHub::shared().postDeckEditExported(edit); });
    EXPECT_TRUE(link->sent().empty());
    QCoreApplication::processEvents();
    EXPECT_EQ(link->commandNamesTo(peer(1)), std::vector<std::string>{"deckEdit"});
}

}  // namespace
}  // namespace morvane
