#include "deck_ui/editor/retouch_editor.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include "editor_support.h"
#include "remote/notification_hub.h"
#include "temp_dir.h"
#include "test_files.h"

using namespace morvane;
using morvane::test::HeldBuilder;
using morvane::test::StandInPlayer;
using morvane::test::TempDir;
namespace fs = std::filesystem;

namespace {

const Date base{760000000.0};

class EditorTest : public ::testing::Test {
protected:
    void SetUp() override {
        library = std::make_unique<RetouchLibrary>(temp / "Retouch", temp / "Program");
        RetouchTake t;
        t.number = 7;
        for (const char* camera : {"Alpha", "Bravo", "Charlie"}) {
            RetouchClip c;
            c.camera = camera;
            c.file = c.id.uuidString() + ".mov";
            c.start = base;
            c.duration = 20;
            test::writeFile(temp / "Retouch" / c.file, "copy");
            t.clips.push_back(c);
        }
        t.cuts = {{"Alpha", base}, {"Bravo", base.addingTimeInterval(5)}, {"Charlie", base.addingTimeInterval(12)}};
        takeID = t.id;
        library->setTakes({t});
        editor = std::make_unique<RetouchEditor>(takeID, player, *library);
        editor->setBuilder(builds.builder());
    }

    RetouchTake storedTake() const { return *library->take(takeID); }
    bool takesFileExists() const { return fs::exists(temp / "Retouch" / "takes.json"); }

    TempDir temp;
    std::unique_ptr<RetouchLibrary> library;
    Uuid takeID;
    StandInPlayer player;
    HeldBuilder builds;
    std::unique_ptr<RetouchEditor> editor;
};

}  // namespace

TEST_F(EditorTest, OpensOnTheLiveCutAndWritesNothingUntilTheFirstChange) {
    editor->loadEdit();
    ASSERT_TRUE(editor->edit());
    const auto& e = *editor->edit();
    ASSERT_EQ(e.switches.size(), 3u);
    EXPECT_EQ(e.camera(6), "Bravo");
    EXPECT_DOUBLE_EQ(editor->time(), e.trimStart);
    EXPECT_TRUE(editor->observing());
    EXPECT_EQ(builds.pending.size(), 1u) << "the first rebuild starts";
    EXPECT_FALSE(storedTake().edit);
    EXPECT_FALSE(takesFileExists());
    EXPECT_TRUE(editor->history().empty());

    // Closing the sound sheet untouched: no history entry, nothing written, no rebuild.
    editor->setShowSound(true);
    editor->soundSheetClosed();
    EXPECT_TRUE(editor->history().empty());
    EXPECT_FALSE(takesFileExists());
    EXPECT_EQ(builds.pending.size(), 1u);

    // Loading again changes nothing: the edit loads once per editor.
    const auto loaded = *editor->edit();
    editor->loadEdit();
    EXPECT_EQ(*editor->edit(), loaded);
}

TEST_F(EditorTest, CommitsWithAndWithoutAChange) {
    editor->loadEdit();
    const auto opened = *editor->edit();

    // With a change: the edit before it enters the history, the edit is normalized and saved.
    editor->commitEdit([](RetouchEdit& e) { e.switches.push_back({Uuid(), 8, "Alpha"}); });
    ASSERT_EQ(editor->history().size(), 1u);
    EXPECT_EQ(editor->history().back(), opened);
    EXPECT_EQ(editor->edit()->switches.size(), 4u);
    EXPECT_EQ(editor->edit()->switches[2].time, 8) << "sorted by time";
    EXPECT_EQ(storedTake().edit, editor->edit());
    EXPECT_TRUE(takesFileExists());
    EXPECT_EQ(builds.pending.size(), 2u);

    // A change that alters nothing still records an entry and rebuilds.
    editor->commitEdit([](RetouchEdit&) {});
    EXPECT_EQ(editor->history().size(), 2u);
    EXPECT_EQ(builds.pending.size(), 3u);

    // Through the sound panel's binding: the stored edit, not the working one, becomes the undo entry.
    const auto stored = *storedTake().edit;
    auto changed = *editor->edit();
    changed.sound = RetouchEdit::Sound::mix();
    editor->setWorkingEdit(changed);
    editor->soundSheetClosed();
    EXPECT_EQ(editor->history().size(), 3u);
    EXPECT_EQ(editor->history().back(), stored);
    EXPECT_EQ(storedTake().edit->sound, RetouchEdit::Sound::mix());
}

TEST_F(EditorTest, HistoryKeepsTheLastFiftyAndUndoWalksBack) {
    editor->loadEdit();
    editor->undo();  // nothing to undo
    EXPECT_TRUE(editor->history().empty());
    EXPECT_EQ(builds.pending.size(), 1u);

    for (int i = 1; i <= 51; ++i) editor->commitEdit([i](RetouchEdit& e) { e.trimEnd = 20 - i * 0.1; });
    EXPECT_EQ(editor->history().size(), RetouchEditor::historyLimit);
    EXPECT_NEAR(editor->history().front().trimEnd, 20 - 0.1, 1e-9) << "the opening edit was dropped";

    editor->setSelection(RetouchEditor::Selection::block(0, 5));
    editor->commitEdit([](RetouchEdit& e) { e.trimStart = 1; });
    EXPECT_TRUE(editor->selection()) << "a commit leaves the selection";
    editor->undo();
    EXPECT_FALSE(editor->selection()) << "undo clears it";
    EXPECT_DOUBLE_EQ(editor->edit()->trimStart, 0);
    EXPECT_NEAR(editor->edit()->trimEnd, 20 - 5.1, 1e-9);
    EXPECT_EQ(storedTake().edit, editor->edit()) << "undo saves";

    // Restore to live cut is one step.
    editor->restoreLiveCut();
    EXPECT_DOUBLE_EQ(editor->edit()->trimEnd, 20);
    editor->undo();
    EXPECT_NEAR(editor->edit()->trimEnd, 20 - 5.1, 1e-9);
}

TEST_F(EditorTest, CameraTapsSwitchAtThePlayheadOrRetargetTheSelectedBlock) {
    editor->loadEdit();
    editor->seek(8);
    editor->tapCamera("Alpha");
    EXPECT_EQ(editor->edit()->camera(8), "Alpha");
    EXPECT_EQ(editor->edit()->camera(7.9), "Bravo");

    // With a block selected, the switch opening it gets the camera; playhead and selection stay.
    editor->selectBlock(6);
    ASSERT_EQ(editor->selection(), RetouchEditor::Selection::block(5, 8));
    editor->tapCamera("Charlie");
    EXPECT_EQ(editor->edit()->camera(6), "Charlie");
    EXPECT_EQ(editor->edit()->camera(8), "Alpha");
    EXPECT_DOUBLE_EQ(editor->time(), 8);
    EXPECT_EQ(editor->selection(), RetouchEditor::Selection::block(5, 8));

    // Removing the block closes the panel; the removed part is then selected by a double tap.
    editor->removeBlock(5, 8);
    EXPECT_FALSE(editor->selection());
    ASSERT_TRUE(editor->edit()->removedSections);
    editor->selectBlock(6);
    const Uuid removed = (*editor->edit()->removedSections)[0].id;
    EXPECT_EQ(editor->selection(), RetouchEditor::Selection::removed(removed));
    editor->restoreSection(removed);
    EXPECT_TRUE(editor->edit()->removedSections->empty());
    EXPECT_FALSE(editor->selection());
}

TEST_F(EditorTest, PlayheadSeeksTrimsAndPlayFromTheEnd) {
    editor->loadEdit();
    editor->commitEdit([](RetouchEdit& e) {
        e.trimStart = 2;
        e.trimEnd = 15;
        e.removedSections = std::vector<RetouchEdit::Section>{{Uuid(), 14, 18}};
    });
    builds.finish(1, 1920);
    editor->seek(14.5);  // inside a removed part reaching past the trim end
    EXPECT_DOUBLE_EQ(editor->time(), 15);
    EXPECT_DOUBLE_EQ(player.seeks.back(), 12) << "the player seeks program time";
    editor->seek(std::nan(""));
    EXPECT_DOUBLE_EQ(editor->time(), 15) << "a gesture without a time is ignored";

    // Play pressed at the end starts again from the trim start.
    player.position = 12;
    editor->togglePlay();
    EXPECT_TRUE(player.playing);
    EXPECT_DOUBLE_EQ(editor->time(), 2);
    EXPECT_TRUE(editor->playing());
    editor->togglePlay();
    EXPECT_FALSE(editor->playing());

    // The tick maps the player's program time back to take time, through the edit its item was built from.
    editor->timeObserverTick(3);
    EXPECT_DOUBLE_EQ(editor->time(), 5);
    editor->commitEdit([](RetouchEdit& e) { e.trimStart = 4; });  // its rebuild has not landed yet
    editor->timeObserverTick(3);
    EXPECT_DOUBLE_EQ(editor->time(), 5);
    editor->undo();

    // Trims at the playhead keep one second.
    editor->seek(14.5);
    editor->setTrimStart();
    EXPECT_DOUBLE_EQ(editor->edit()->trimStart, 14);
    editor->clearTrim();
    EXPECT_DOUBLE_EQ(editor->edit()->trimStart, 0);
    EXPECT_DOUBLE_EQ(editor->edit()->trimEnd, 20);
    editor->restoreRemovedParts();
    EXPECT_FALSE(editor->edit()->removedSections);
}

TEST_F(EditorTest, OnlyTheNewestRebuildReachesThePlayer) {
    editor->loadEdit();
    builds.finish(0, 640);
    EXPECT_EQ(player.replacements, 1);
    EXPECT_DOUBLE_EQ(editor->renderWidth(), 640);

    editor->seek(6);
    editor->commitEdit([](RetouchEdit& e) { e.trimStart = 1; });  // build 1, noted at 6
    editor->seek(9);
    editor->commitEdit([](RetouchEdit& e) { e.trimStart = 2; });  // build 2, noted at 9
    builds.finish(2, 800);
    builds.finish(1, 700);  // late: dropped
    EXPECT_EQ(player.replacements, 2);
    EXPECT_DOUBLE_EQ(player.item->videoComposition.renderWidth, 800);
    EXPECT_DOUBLE_EQ(player.seeks.back(), 7) << "sought to the time noted when the newest rebuild started";

    // A failed build keeps the current item.
    editor->commitEdit([](RetouchEdit& e) { e.trimStart = 3; });
    builds.fail(3);
    EXPECT_EQ(player.replacements, 2);

    // A rebuild started while playing resumes; one started while paused stays paused.
    player.playing = true;
    editor->commitEdit([](RetouchEdit& e) { e.trimStart = 2; });
    builds.finish(4, 900);
    EXPECT_TRUE(player.playing);
    player.playing = false;
    editor->commitEdit([](RetouchEdit& e) { e.trimStart = 1; });
    builds.finish(5, 900);
    EXPECT_FALSE(player.playing);
}

TEST_F(EditorTest, TeardownAndReturnKeepOneObserver) {
    editor->loadEdit();
    player.playing = true;
    editor->teardown();
    EXPECT_FALSE(player.playing);
    EXPECT_FALSE(editor->observing());
    editor->resume();
    EXPECT_TRUE(editor->observing());
    editor->loadEdit();
    EXPECT_TRUE(editor->observing());
}

TEST_F(EditorTest, ADeletedTakeStopsEverything) {
    editor->loadEdit();
    library->deleteTake(storedTake());
    EXPECT_FALSE(editor->loaded());
    editor->commitEdit([](RetouchEdit& e) { e.trimStart = 1; });
    EXPECT_TRUE(editor->history().empty());
    EXPECT_EQ(editor::titleText(editor->take()), "Take");

    // "Delete Take" dismisses even when the take is already gone.
    QSignalSpy dismissed(editor.get(), &RetouchEditor::dismissRequested);
    editor->deleteTake();
    EXPECT_EQ(dismissed.count(), 1);
}

TEST_F(EditorTest, RenameThroughTheAlert) {
    editor->loadEdit();
    editor->renameFromMenu();
    EXPECT_TRUE(editor->renaming());
    EXPECT_EQ(editor->newName(), "");
    editor->setNewName("  Interview  ");
    editor->saveRename();
    EXPECT_EQ(storedTake().name, "Interview");
    editor->renameFromMenu();
    EXPECT_EQ(editor->newName(), "Interview");
    editor->setNewName("   ");
    editor->saveRename();
    EXPECT_EQ(editor::titleText(storedTake()), "Take 7");
}

TEST_F(EditorTest, ExportAnnouncesRecordsAndReportsFailures) {
    editor->loadEdit();
    builds.finish(0, 1920);
    std::vector<std::function<void(float)>> progress;
    std::vector<RetouchBuilder::ExportCompletion> completions;
    editor->setExporter([&](RetouchBuilder::Program, RetouchTake, QObject*, std::function<void(float)> p,
                            RetouchBuilder::ExportCompletion c) {
        progress.push_back(std::move(p));
        completions.push_back(std::move(c));
    });
    QSignalSpy announced(&NotificationHub::shared(), &NotificationHub::deckEditExported);

    // A failed build ends in the alert, with nothing announced.
    editor->exportTask();
    EXPECT_EQ(editor->exportProgress(), 0.0f);
    builds.fail(1);
    EXPECT_FALSE(editor->exportProgress());
    EXPECT_EQ(editor->error(), "This take has no usable video");
    EXPECT_FALSE(editor->exported());
    editor->clearError();

    editor->exportTask();
    builds.finish(2, 1920);
    ASSERT_EQ(progress.size(), 1u);
    progress[0](0.426f);
    EXPECT_EQ(editor->exportProgress(), 0.426f);
    editor->exportTask();  // one export at a time
    EXPECT_EQ(builds.pending.size(), 3u);

    const fs::path movie = temp / "Program" / "Take 07.mov";
    test::writeFile(movie, "movie");
    completions[0](movie, nullptr);
    EXPECT_FALSE(editor->exportProgress());
    EXPECT_EQ(editor->exported(), movie);
    EXPECT_FALSE(player.item) << "the preview goes blank";
    QCoreApplication::processEvents();
    ASSERT_EQ(announced.count(), 1);
    const auto deckEdit = announced.at(0).at(0).value<DeckEdit>();
    EXPECT_EQ(deckEdit.id, takeID);
    EXPECT_EQ(deckEdit.name, "Take 7");
    ASSERT_EQ(deckEdit.pieces.size(), 3u);
    EXPECT_EQ(deckEdit.pieces[1].camera, "Bravo");
    EXPECT_DOUBLE_EQ(deckEdit.pieces[1].from.timeIntervalSince(base), 5);
    EXPECT_EQ(deckEdit.sound, DeckEdit::Sound(DeckEdit::Sound::Camera{"Alpha"}));
    const auto recorded = storedTake();
    EXPECT_TRUE(recorded.clips.empty());
    EXPECT_EQ(recorded.exportedFile, "Take 07.mov");

    // A failed second export brings the alert while the done card of the first stays.
    editor->exportTask();
    builds.fail(3);
    EXPECT_EQ(editor->exported(), movie);
    EXPECT_TRUE(editor->error());
}

TEST_F(EditorTest, AnExportOutlivesItsEditor) {
    editor->loadEdit();
    RetouchBuilder::ExportCompletion completion;
    editor->setExporter([&](RetouchBuilder::Program, RetouchTake, QObject*, std::function<void(float)>,
                            RetouchBuilder::ExportCompletion c) { completion = std::move(c); });
    QSignalSpy announced(&NotificationHub::shared(), &NotificationHub::deckEditExported);
    editor->exportTask();
    builds.finish(1, 1920);
    ASSERT_TRUE(completion);
    editor.reset();  // the editor leaves the screen while the movie is written

    const fs::path movie = temp / "Program" / "Take 07.mov";
    test::writeFile(movie, "movie");
    completion(movie, nullptr);
    EXPECT_EQ(announced.count(), 1);
    EXPECT_EQ(storedTake().exportedFile, "Take 07.mov");
    EXPECT_TRUE(storedTake().clips.empty());
}
