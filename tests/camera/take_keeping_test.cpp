// Where a finished take goes and what the operator is told, and what a start does with what an earlier run left on
// the way of its captures.

#include <gtest/gtest.h>

#include <functional>

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

// Every file a crash can leave on the way of a capture, as a start finds it, and what the start does with it: one
// small listing per row, over the same take log and outbox.
TEST(LeftoverPlan, WhatACrashLeftIsFinishedStoredAndSentOnceAndWhatHoldsNoFootageGoes) {
    namespace fs = std::filesystem;
    using Kind = LeftoverPlan::Step::Kind;
    using To = LeftoverPlan::Step::To;
    using File = LeftoverPlan::File;
    using Step = LeftoverPlan::Step;
    using Listing = LeftoverPlan::Listing;
    enum class Where { recording, drive, outbox, deckCopies, vault, records };
    const fs::path recording = "/cam/Recording", drive = "/media/STICK/Brindlecroft", outbox = "/cam/Outbox",
                   deck = "/cam/Deck copies", vault = "/cam/Vault", records = "/cam";
    const auto at = [&](Where where) {
        return where == Where::recording    ? recording
               : where == Where::drive      ? drive
               : where == Where::outbox     ? outbox
               : where == Where::deckCopies ? deck
               : where == Where::vault      ? vault
                                            : records;
    };
    const auto entry = [](int n, const std::string& fileName, std::optional<std::string> driveFile = {},
                          bool copied = false) {
        TakeLog::Entry e;
        e.info.id = Uuid::parse("00000000-0000-0000-0000-0000000000" + std::to_string(10 + n)).value();
        e.info.fileName = fileName;
        e.info.isVideo = true;
        e.info.duration = 4.0;
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
    // Kept in the vault and logged, the camera ended before the outbox listed it.
    TakeLog::Entry vaultUnqueued = entry(9, "2026-03-04 10.11.21 Cam A.mov"), vaultListed = vaultUnqueued;
    vaultUnqueued.vaultFile = vaultUnqueued.info.fileName;
    vaultUnqueued.queued = false;
    vaultListed.info.id = Uuid::parse("00000000-0000-0000-0000-000000000099").value();
    vaultListed.info.fileName = "2026-03-04 10.11.22 Cam A.mov";
    vaultListed.vaultFile = vaultListed.info.fileName;
    // Stored from a drive that was mounted elsewhere then.
    const TakeLog::Entry elsewhere = entry(10, "elsewhere", "/media/ann/STICK1/Brindlecroft/Take 0011.mov"),
                         elsewhereUnqueued =
                             entry(11, "elsewhere, unqueued", "/run/media/STICK/Brindlecroft/Take 0012.mov");
    const Date written = Date::fromUnix(1'772'000'000), started = written.addingTimeInterval(60);
    const Uuid photoID;
    TransferInfo photo;
    photo.id = photoID, photo.capturedAt = written, photo.isVideo = false;
    photo.fileName = takeFileName(written, "Cam A", "jpg");

    const auto step = [&](Kind kind, Where where, const std::string& name, std::optional<TransferInfo> info = {},
                          bool photo = false, To to = To::listing, bool toGallery = false) {
        return Step{kind, at(where) / name, where == Where::drive, photo, std::move(info), std::nullopt, to, toGallery};
    };
    const auto journal = [](const std::string& movie, std::string owner = "A", bool held = false,
                            std::string ownerName = {}) {
        return File{"." + movie + ".journal", 4000, {}, false, std::move(owner), held, 0, std::move(ownerName)};
    };
    const auto plays = [](const std::string& name, double duration = 4.0) {
        return File{name, 9000, {}, true, {}, false, duration};
    };
    const auto tell = [&](const std::string& movie, const std::string& told) {
        return Step{Kind::leave, drive / movie, true, false, std::nullopt, told};
    };
    struct Row {
        const char* name;
        std::vector<std::pair<Where, File>> files;
        std::vector<Step> steps;  // what becomes of them
        std::function<void(Listing&)> also = {};
    };
    const Where R = Where::recording, D = Where::drive, O = Where::outbox, K = Where::deckCopies, V = Where::vault,
                C = Where::records;
    const std::vector<Row> rows = {
        {"a take cut off is finished",
         {{R, {"A.mov", 9000}}, {R, journal("A.mov")}, {R, {".A.mov.reserve", 100}}},
         {step(Kind::recover, R, "A.mov")}},
        {"a take finished, not stored, is stored", {{R, plays("B.mov")}}, {step(Kind::store, R, "B.mov")}},
        {"one with its journal still there too",
         {{R, plays("F.mov")}, {R, journal("F.mov")}},
         {step(Kind::store, R, "F.mov")}},
        {"a movie that does not play and has no journal", {{R, {"C.mov", 9000}}}, {step(Kind::recover, R, "C.mov")}},
        {"journals and kept rooms alone hold no footage",
         {{R, journal("X.mov")}, {R, {".X.mov.reserve", 100}}, {R, {".B.mov.reserve", 100}}},
         {step(Kind::remove, R, ".X.mov.journal"), step(Kind::remove, R, ".X.mov.reserve"),
          step(Kind::remove, R, ".B.mov.reserve")}},
        {"the take being recorded and what is no capture are left alone",
         {{R, {"D.mov", 9000}}, {R, journal("D.mov")}, {R, {".D.mov.reserve", 100}}, {R, {"notes.txt", 10}}},
         {}},
        {"a set-aside movie is kept", {{R, {"G.mov.unfinished", 2'000'000}}}, {}},
        {"unless it is a header without a sample",
         {{R, {"H.mov.unfinished", 40}}},
         {step(Kind::remove, R, "H.mov.unfinished")}},
        {"killed after its entry in the take log, before its move into the outbox: moved there under that entry",
         {{R, plays(logged.info.fileName)}},
         {step(Kind::queue, R, logged.info.fileName, logged.info, false, To::move)}},
        {"a photo on its way into the library is stored under its name",
         {{R, {"2026-03-04 10.11.13 Cam A.jpg", 5000}}},
         {step(Kind::store, R, "2026-03-04 10.11.13 Cam A.jpg", {}, true)}},
        {"a name claimed for a photo never written goes",
         {{R, {"2026-03-04 10.11.13 Cam A 2.jpg", 0}}},
         {step(Kind::remove, R, "2026-03-04 10.11.13 Cam A 2.jpg")}},
        {"once the camera runs, photos are on their way on a queue of their own",
         {{R, {"2026-03-04 10.11.13 Cam A.jpg", 5000}}},
         {},
         [](Listing& l) { l.occasion = LeftoverPlan::Occasion::takes; }},
        {"a drive keeps its takes", {{D, plays("Take 0001.mov")}}, {}},
        {"a drive take finished whose journal has not gone was never queued: stored",
         {{D, plays("Take 0002.mov")}, {D, journal("Take 0002.mov")}},
         {step(Kind::store, D, "Take 0002.mov")}},
        {"stored, its copy into the outbox cut: copied there under its entry",
         {{D, plays("Take 0003.mov")}, {D, journal("Take 0003.mov")}},
         {step(Kind::queue, D, "Take 0003.mov", copyCut.info, false, To::copy)}},
        {"stored and queued, its journal not yet gone: the journal goes, and its kept room",
         {{D, plays("Take 0004.mov")}, {D, journal("Take 0004.mov")}},
         {step(Kind::remove, D, ".Take 0004.mov.journal"), step(Kind::remove, D, ".Take 0004.mov.reserve")}},
        {"another camera's take cut off: left to that camera, and the crew told which",
         {{D, {"Take 0005.mov", 9000}},
          {D, journal("Take 0005.mov", "B", false, "Cam B")},
          {D, {".Take 0005.mov.reserve", 100}}},
         {tell("Take 0005.mov", LeftoverPlan::anotherCamerasTake(drive / "Take 0005.mov", "Cam B"))}},
        {"told once: it stands until it holds no more",
         {{D, {"Take 0005.mov", 9000}}, {D, journal("Take 0005.mov", "B", false, "Cam B")}},
         {Step{Kind::leave, drive / "Take 0005.mov", true}},
         [&](Listing& l) { l.toldOthers = {drive / "Take 0005.mov"}; }},
        {"another camera's take the crew was told of, finished by its camera since: told no more",
         {{D, plays("Take 0005.mov")}},
         {step(Kind::untell, D, "Take 0005.mov")},
         [&](Listing& l) { l.toldOthers = {drive / "Take 0005.mov"}; }},
        {"and one its camera is finishing now",
         {{D, {"Take 0005.mov", 9000}}, {D, journal("Take 0005.mov", "B", true)}},
         {step(Kind::untell, D, "Take 0005.mov")},
         [&](Listing& l) { l.toldOthers = {drive / "Take 0005.mov"}; }},
        {"a take whose recorder is alive (another camera program on this computer) is not touched, nor told",
         {{D, {"Take 0006.mov", 9000}}, {D, journal("Take 0006.mov", "B", true)}, {D, {".Take 0006.mov.reserve", 100}}},
         {}},
        {"this camera's own take held by another program (a start beside it) is tried again once let go",
         {{D, {"Take 0010.mov", 9000}}, {D, journal("Take 0010.mov", "A", true)}},
         {step(Kind::waitFor, D, "Take 0010.mov")}},
        {"a journal that names no camera, on a drive: left, and the crew told what is known",
         {{D, {"Take 0007.mov", 9000}}, {D, journal("Take 0007.mov", "")}},
         {tell("Take 0007.mov", LeftoverPlan::nobodysTake(drive / "Take 0007.mov"))}},
        {"one that names no camera the take log names: this camera's, queued",
         {{D, plays("Take 0003.mov")}, {D, journal("Take 0003.mov", "")}},
         {step(Kind::queue, D, "Take 0003.mov", copyCut.info, false, To::copy)}},
        {"one that names no camera in the camera's own folder: its own",
         {{R, {"J.mov", 9000}}, {R, journal("J.mov", "")}},
         {step(Kind::recover, R, "J.mov")}},
        {"a name claimed for a take the camera did not survive",
         {{D, {"Take 0008.mov", 0}}},
         {step(Kind::remove, D, "Take 0008.mov")}},
        {"a journal being made when its recorder ended goes; one being made now stays",
         {{D, {".Take 0009.mov.journal.new", 0}}, {D, {".Take 0010.mov.journal.new", 0, {}, false, {}, true}}},
         {step(Kind::remove, D, ".Take 0009.mov.journal.new")}},
        {"a drive back at another mount point: its take stored and queued is known by its name there",
         {{D, plays("Take 0011.mov")}, {D, journal("Take 0011.mov")}},
         {step(Kind::remove, D, ".Take 0011.mov.journal"), step(Kind::remove, D, ".Take 0011.mov.reserve")},
         [&](Listing& l) { l.outbox.listed.insert(named(elsewhere)); }},
        {"and one stored, not queued, is queued once, not stored again",
         {{D, plays("Take 0012.mov")}, {D, journal("Take 0012.mov")}},
         {step(Kind::queue, D, "Take 0012.mov", elsewhereUnqueued.info, false, To::copy)}},
        {"a take of that name but another length on another drive is another take",
         {{D, plays("Take 0011.mov", 9.0)}, {D, journal("Take 0011.mov")}},
         {step(Kind::store, D, "Take 0011.mov")},
         [&](Listing& l) { l.outbox.listed.insert(named(elsewhere)); }},
        {"the outbox: a take placed but not listed is listed under its entry",
         {{O, {named(placed), 9000}}},
         {step(Kind::queue, O, named(placed), placed.info)}},
        {"a photo, which has none, under the name of when it was written",
         {{O, {photoID.uuidString() + ".jpg", 5000, written}}},
         {step(Kind::queue, O, photoID.uuidString() + ".jpg", photo, true)}},
        {"one listed, and one nobody knows",
         {{O, {"listed.mov", 9000}}, {O, {Uuid().uuidString() + ".mov", 9000}}},
         {}},
        {"a deck copy cut off is made again",
         {{K, {"." + named(remade) + ".partial", 500}}},
         {step(Kind::remove, K, "." + named(remade) + ".partial"),
          step(Kind::makeDeckCopy, K, named(remade), remade.info)}},
        {"a deck copy the decks have is sent", {{K, {named(copied), 9000}}}, {step(Kind::sent, K, named(copied))}},
        {"one placed but not listed is listed",
         {{K, {named(copyWaits), 9000}}},
         {step(Kind::queue, K, named(copyWaits), copyWaits.info)}},
        {"the vault: a capture moved in that nothing names is stored where it is",
         {{V, {"2026-03-04 10.11.14 Cam A.mov", 9000}}, {V, {"2026-03-04 10.11.15 Cam A.jpg", 5000}}},
         {step(Kind::store, V, "2026-03-04 10.11.14 Cam A.mov"),
          step(Kind::store, V, "2026-03-04 10.11.15 Cam A.jpg", {}, true)}},
        {"one the outbox lists waits there; one sent stays",
         {{V, {"2026-03-04 10.11.16 Cam A.mov", 9000}},
          {V, {inVault.info.fileName, 9000}},
          {V, {"2026-03-04 10.11.17 Cam A.jpg", 5000}}},
         {}},
        {"a name claimed in the vault, the move never made", {{V, {"2026-03-04 10.11.18 Cam A.mov", 0}}}, {}},
        {"a take kept and logged, the camera ended before the outbox listed it: queued once, into the gallery too",
         {{V, {vaultUnqueued.info.fileName, 9000}}},
         {step(Kind::queue, V, vaultUnqueued.info.fileName, vaultUnqueued.info, false, To::vaultEntry, true)}},
        {"the same with its gallery entry made",
         {{V, {vaultUnqueued.info.fileName, 9000}}},
         {step(Kind::queue, V, vaultUnqueued.info.fileName, vaultUnqueued.info, false, To::vaultEntry)},
         [&](Listing& l) { l.inGallery.insert(vaultUnqueued.info.fileName); }},
        {"listed, the camera ended before the log said so: the log is told",
         {{V, {vaultListed.info.fileName, 9000}}},
         {Step{Kind::noteQueued, vault / vaultListed.info.fileName, false, false, vaultListed.info}},
         [&](Listing& l) {
             l.takeLog.back().queued = false;
             l.vault.listed.insert(vaultListed.info.fileName);
         }},
        {"writes an earlier run cut off beside the camera's records go; this run's stay",
         {{C, {".takes.json.a1b2c3d4.tmp", 100, written}},
          {C, {".index.json.a1b2c3d4.tmp", 100, written}},
          {C, {".00000000-0000-0000-0000-000000000001.jpg.zzzzzzzz.tmp", 100, written}},
          {C, {".takes.json.e5f6g7h8.tmp", 100, started.addingTimeInterval(1)}},
          {C, {"takes.json", 100, written}}},
         {step(Kind::remove, C, ".takes.json.a1b2c3d4.tmp"), step(Kind::remove, C, ".index.json.a1b2c3d4.tmp"),
          step(Kind::remove, C, ".00000000-0000-0000-0000-000000000001.jpg.zzzzzzzz.tmp")}},
    };
    for (const auto& row : rows) {
        Listing listing;
        listing.recording.path = recording;
        listing.drives = {{drive, {}, {}}};
        listing.outbox = {outbox, {}, {"listed.mov", named(queued)}};
        listing.deckCopies.path = deck;
        listing.vault = {vault, {}, {"2026-03-04 10.11.16 Cam A.mov", "2026-03-04 10.11.17 Cam A.jpg"}};
        listing.inGallery = {"2026-03-04 10.11.17 Cam A.jpg"};
        listing.records = {{records, {}, {}}};
        listing.takeLog = {
            logged,    copyCut,           queued,     placed, copied, copyWaits, remade, inVault, vaultUnqueued,
            elsewhere, elsewhereUnqueued, vaultListed};
        listing.recordingNow = recording / "D.mov";
        listing.camera = "A";
        listing.deviceName = "Cam A";
        listing.runStarted = started;
        if (row.also) row.also(listing);
        for (const auto& [where, file] : row.files) {
            auto& folder = where == R   ? listing.recording
                           : where == D ? listing.drives[0]
                           : where == O ? listing.outbox
                           : where == K ? listing.deckCopies
                           : where == V ? listing.vault
                                        : listing.records[0];
            folder.files.push_back(file);
        }
        const auto steps = LeftoverPlan::plan(listing);
        EXPECT_EQ(steps.size(), row.steps.size()) << row.name;
        for (std::size_t i = 0; i < std::min(steps.size(), row.steps.size()); ++i) {
            EXPECT_EQ(steps[i], row.steps[i])
                << row.name << ", " << i << ": " << steps[i].file << " (" << static_cast<int>(steps[i].kind)
                << "), not " << row.steps[i].file << " (" << static_cast<int>(row.steps[i].kind) << ")";
        }
    }
}

}  // namespace
}  // namespace morvane
