// Where a finished take goes and what the operator is told, and what a start does with what an earlier run left on
// the way of its captures.

#include <gtest/gtest.h>

#include "camera/leftover_plan.h"
#include "camera/outbox.h"
#include "camera/take_keeping.h"

namespace morvane {
namespace {

using Library = TakeKeeping::Library;
using Queue = TakeKeeping::Queue;

TEST(TakeKeeping, ATakeTheLibraryCannotHoldStillGoesToTheRemoteAndTheOperatorLearnsWhere) {
    const std::filesystem::path outbox = "/cam/Outbox", recorded = "/cam/Recording/take.mov";
    struct Row {
        Library library;
        std::optional<std::string> keepFailure;
        bool sends;
        Queue queue;
        bool removeUnqueued;
        bool queued;  // as the queueing then went
        std::optional<std::string> told;
        bool photo = false;  // a photo goes the way a take does
    };
    const std::string pictures = "Couldn't save to Pictures › Brindlecroft: Input/output error. ";
    const std::vector<Row> rows = {
        {Library::pictures, std::nullopt, true, Queue::move, true, true, std::nullopt},
        {Library::pictures, std::nullopt, false, Queue::none, true, false, std::nullopt},
        {Library::vault, std::nullopt, true, Queue::vaultEntry, false, true, std::nullopt},
        {Library::drive, std::nullopt, true, Queue::copy, false, true, std::nullopt},
        {Library::drive, std::nullopt, false, Queue::none, false, false, std::nullopt},
        {Library::pictures, "Input/output error", true, Queue::move, false, true,
         pictures + "The take goes to the remote; until then it waits in /cam/Outbox"},
        // The outbox could not take it either: it stays where it was recorded.
        {Library::pictures, "Input/output error", true, Queue::move, false, false,
         pictures + "The take is kept in /cam/Recording/take.mov"},
        {Library::pictures, "Input/output error", false, Queue::none, false, false,
         pictures + "The take is kept in /cam/Recording/take.mov"},
        {Library::vault, "", true, Queue::move, false, true,
         "Couldn't save to the vault. The take goes to the remote; until then it waits in /cam/Outbox"},
        {Library::pictures, "Input/output error", true, Queue::move, false, true,
         pictures + "The photo goes to the remote; until then it waits in /cam/Outbox", true},
        {Library::vault, "", false, Queue::none, false, false,
         "Couldn't save to the vault. The photo is kept in /cam/Recording/take.mov", true},
        {Library::pictures, std::nullopt, true, Queue::move, true, true, std::nullopt, true},
    };
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const auto& row = rows[i];
        const TakeKeeping::Facts facts{row.library, row.keepFailure, row.sends, row.photo};
        const auto plan = TakeKeeping::plan(facts);
        EXPECT_EQ(plan.queue, row.queue) << "row " << i;
        EXPECT_EQ(plan.removeUnqueued, row.removeUnqueued) << "row " << i;
        EXPECT_EQ(TakeKeeping::message(facts, row.queued, outbox, recorded), row.told) << "row " << i;
    }
}

// Every file a crash can leave on the way of a capture, as a start finds it, and what the start does with it.
TEST(LeftoverPlan, WhatACrashLeftIsFinishedStoredAndSentOnceAndWhatHoldsNoFootageGoes) {
    namespace fs = std::filesystem;
    using Kind = LeftoverPlan::Step::Kind;
    using File = LeftoverPlan::File;
    using Step = LeftoverPlan::Step;
    enum class Where { recording, drive, outbox, deckCopies, vault };
    const fs::path recording = "/cam/Recording", drive = "/media/STICK/Brindlecroft", outbox = "/cam/Outbox",
                   deck = "/cam/Deck copies", vault = "/cam/Vault";
    const auto at = [&](Where where) {
        return where == Where::recording    ? recording
               : where == Where::drive      ? drive
               : where == Where::outbox     ? outbox
               : where == Where::deckCopies ? deck
                                            : vault;
    };
    const auto entry = [](int n, const std::string& fileName, std::optional<std::string> driveFile = {},
                          bool copied = false) {
        TakeLog::Entry e;
        e.info.id = Uuid::parse("00000000-0000-0000-0000-00000000000" + std::to_string(n)).value();
        e.info.fileName = fileName;
        e.info.isVideo = true;
        e.driveFile = std::move(driveFile);
        e.copied = copied;
        return e;
    };
    const auto named = [](const TakeLog::Entry& e) { return e.info.id.uuidString() + ".mov"; };
    const TakeLog::Entry logged = entry(1, "2026-03-04 10.11.12 Cam A.mov");
    const TakeLog::Entry copyCut = entry(2, "copy cut", (drive / "Take 0003.mov").string());
    const TakeLog::Entry queued = entry(3, "queued", (drive / "Take 0004.mov").string());
    const TakeLog::Entry placed = entry(4, "placed"), copied = entry(5, "copied", {}, true),
                         copyWaits = entry(6, "copy waits"), remade = entry(7, "remade");
    TakeLog::Entry inVault = entry(8, "2026-03-04 10.11.20 Cam A.mov");
    inVault.vaultFile = inVault.info.fileName;
    const Date written = Date::fromUnix(1'772'000'000);
    const Uuid photoID;
    TransferInfo photo;
    photo.id = photoID, photo.capturedAt = written, photo.isVideo = false;
    photo.fileName = takeFileName(written, "Cam A", "jpg");

    struct Row {
        Where where;
        File file;
        std::vector<Step> steps;  // what becomes of it
    };
    const auto step = [&](Kind kind, Where where, const std::string& name, std::optional<TransferInfo> info = {},
                          bool photo = false) {
        return Step{kind, at(where) / name, where == Where::drive, photo, std::move(info)};
    };
    const auto journal = [](const std::string& movie, std::string owner = "A", bool held = false) {
        return File{"." + movie + ".journal", 4000, {}, false, std::move(owner), held};
    };
    const Where R = Where::recording, D = Where::drive, O = Where::outbox, K = Where::deckCopies, V = Where::vault;
    const std::vector<Row> rows = {
        // The camera's folder: a take cut off is finished; one finished but not stored is stored as it plays.
        {R, {"A.mov", 9000}, {step(Kind::finish, R, "A.mov")}},
        {R, journal("A.mov"), {}},
        {R, {".A.mov.reserve", 100}, {}},
        {R, {"B.mov", 9000, {}, true}, {step(Kind::store, R, "B.mov")}},
        {R, {"F.mov", 9000, {}, true}, {step(Kind::store, R, "F.mov")}},
        {R, journal("F.mov"), {}},
        {R, {"C.mov", 9000}, {step(Kind::setAside, R, "C.mov")}},
        // Journals and kept rooms alone hold no footage.
        {R, journal("X.mov"), {step(Kind::remove, R, ".X.mov.journal")}},
        {R, {".X.mov.reserve", 100}, {step(Kind::remove, R, ".X.mov.reserve")}},
        {R, {".B.mov.reserve", 100}, {step(Kind::remove, R, ".B.mov.reserve")}},
        // The take being recorded, and what is not a capture's, are left alone.
        {R, {"D.mov", 9000}, {}},
        {R, journal("D.mov"), {}},
        {R, {".D.mov.reserve", 100}, {}},
        {R, {"notes.txt", 10}, {}},
        // A set-aside movie is kept, unless it is a header without a sample.
        {R, {"G.mov.unfinished", 2'000'000}, {}},
        {R, {"H.mov.unfinished", 40}, {step(Kind::remove, R, "H.mov.unfinished")}},
        // Killed after its entry in the take log, before its move into the outbox: queued under that entry, never
        // stored a second time.
        {R, {logged.info.fileName, 9000, {}, true}, {step(Kind::queue, R, logged.info.fileName, logged.info)}},
        // A photo on its way into the library is stored under its name; a name claimed for one never written goes.
        {R, {"2026-03-04 10.11.13 Cam A.jpg", 5000}, {step(Kind::store, R, "2026-03-04 10.11.13 Cam A.jpg", {}, true)}},
        {R, {"2026-03-04 10.11.13 Cam A 2.jpg", 0}, {step(Kind::remove, R, "2026-03-04 10.11.13 Cam A 2.jpg")}},
        // A drive keeps its takes. One finished there whose journal has not yet gone was never queued: stored.
        {D, {"Take 0001.mov", 9000, {}, true}, {}},
        {D, {"Take 0002.mov", 9000, {}, true}, {step(Kind::store, D, "Take 0002.mov")}},
        {D, journal("Take 0002.mov"), {}},
        // Stored, its copy into the outbox cut: queued under its entry.
        {D, {"Take 0003.mov", 9000, {}, true}, {step(Kind::queue, D, "Take 0003.mov", copyCut.info)}},
        {D, journal("Take 0003.mov"), {}},
        // Stored and queued, its journal not yet gone: the journal goes, and its kept room.
        {D,
         {"Take 0004.mov", 9000, {}, true},
         {step(Kind::remove, D, ".Take 0004.mov.journal"), step(Kind::remove, D, ".Take 0004.mov.reserve")}},
        {D, journal("Take 0004.mov"), {}},
        // Another camera's take cut off: left to that camera, and the crew told.
        {D,
         {"Take 0005.mov", 9000},
         {Step{Kind::leave, drive / "Take 0005.mov", true, false, std::nullopt,
               LeftoverPlan::anotherCamerasTake(drive / "Take 0005.mov")}}},
        {D, journal("Take 0005.mov", "B"), {}},
        {D, {".Take 0005.mov.reserve", 100}, {}},
        // A take whose recorder is alive (another camera program on this computer) is not touched at all.
        {D, {"Take 0006.mov", 9000}, {}},
        {D, journal("Take 0006.mov", "B", true), {}},
        {D, {".Take 0006.mov.reserve", 100}, {}},
        // A journal of the first layout names no camera: the take is finished as this camera's.
        {D, {"Take 0007.mov", 9000}, {step(Kind::finish, D, "Take 0007.mov")}},
        {D, journal("Take 0007.mov", ""), {}},
        // A name claimed for a take the camera did not survive.
        {D, {"Take 0008.mov", 0}, {step(Kind::remove, D, "Take 0008.mov")}},
        // The outbox: a take placed but not listed is listed under its entry; a photo, which has none, under the
        // name of when it was written.
        {O, {named(placed), 9000}, {step(Kind::queue, O, named(placed), placed.info)}},
        {O,
         {photoID.uuidString() + ".jpg", 5000, written},
         {step(Kind::queue, O, photoID.uuidString() + ".jpg", photo, true)}},
        {O, {"listed.mov", 9000}, {}},
        {O, {Uuid().uuidString() + ".mov", 9000}, {}},  // nobody knows it
        // Deck copies: one cut off is made again; one the decks have goes; one placed but not listed is listed.
        {K,
         {"." + named(remade) + ".partial", 500},
         {step(Kind::remove, K, "." + named(remade) + ".partial"),
          step(Kind::makeDeckCopy, K, named(remade), remade.info)}},
        {K, {named(copied), 9000}, {step(Kind::remove, K, named(copied))}},
        {K, {named(copyWaits), 9000}, {step(Kind::queue, K, named(copyWaits), copyWaits.info)}},
        // The vault: a capture moved in, the camera ended before anything named it: stored where it is, as a take or
        // a photo. One the outbox lists waits there; one sent (a take in the take log, a photo in the gallery) stays.
        {V, {"2026-03-04 10.11.14 Cam A.mov", 9000}, {step(Kind::store, V, "2026-03-04 10.11.14 Cam A.mov")}},
        {V, {"2026-03-04 10.11.15 Cam A.jpg", 5000}, {step(Kind::store, V, "2026-03-04 10.11.15 Cam A.jpg", {}, true)}},
        {V, {"2026-03-04 10.11.16 Cam A.mov", 9000}, {}},
        {V, {inVault.info.fileName, 9000}, {}},
        {V, {"2026-03-04 10.11.17 Cam A.jpg", 5000}, {}},
        {V, {"2026-03-04 10.11.18 Cam A.mov", 0}, {}},  // a name claimed, the move never made
    };
    LeftoverPlan::Listing listing;
    listing.recording.path = recording;
    listing.drives = {{drive, {}, {}}};
    listing.outbox = {outbox, {}, {"listed.mov", named(queued)}};
    listing.deckCopies.path = deck;
    listing.vault = {vault, {}, {"2026-03-04 10.11.16 Cam A.mov", "2026-03-04 10.11.17 Cam A.jpg"}};
    listing.takeLog = {logged, copyCut, queued, placed, copied, copyWaits, remade, inVault};
    listing.recordingNow = recording / "D.mov";
    listing.camera = "A";
    listing.deviceName = "Cam A";
    std::vector<Step> expected;
    for (const auto& row : rows) {
        auto& folder = row.where == R   ? listing.recording
                       : row.where == D ? listing.drives[0]
                       : row.where == O ? listing.outbox
                       : row.where == K ? listing.deckCopies
                                        : listing.vault;
        folder.files.push_back(row.file);
        expected.insert(expected.end(), row.steps.begin(), row.steps.end());
    }
    const auto steps = LeftoverPlan::plan(listing);
    for (std::size_t i = 0; i < std::max(steps.size(), expected.size()); ++i) {
        ASSERT_LT(i, steps.size()) << "missing: " << expected[i].file;
        ASSERT_LT(i, expected.size()) << "more: " << steps[i].file;
        EXPECT_EQ(steps[i], expected[i]) << i << ": " << steps[i].file << " (" << static_cast<int>(steps[i].kind)
                                         << "), not " << expected[i].file << " (" << static_cast<int>(expected[i].kind)
                                         << ")";
    }
}

}  // namespace
}  // namespace morvane
