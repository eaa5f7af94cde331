// Where a finished take goes and what the operator is told, and what a start does with what an earlier run left in
// the recording folder.

#include <gtest/gtest.h>

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
    };
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const auto& row = rows[i];
        const TakeKeeping::Facts facts{row.library, row.keepFailure, row.sends};
        const auto plan = TakeKeeping::plan(facts);
        EXPECT_EQ(plan.queue, row.queue) << "row " << i;
        EXPECT_EQ(plan.removeUnqueued, row.removeUnqueued) << "row " << i;
        EXPECT_EQ(TakeKeeping::message(facts, row.queued, outbox, recorded), row.told) << "row " << i;
    }
}

TEST(LeftRecording, TakesCutShortAreFinishedWhatNeverPlayedGoesAndNothingElseIsTouched) {
    using Action = LeftRecording::Action;
    const std::filesystem::path a = "/r/A.mov", b = "/r/B.mov", c = "/r/C.mov", d = "/r/D.mov", e = "/r/E.mov";
    const std::filesystem::path journalA = "/r/A.journal", journalGone = "/r/X.journal", journalD = "/r/D.journal",
                                journalE = "/r/E.journal";
    const std::set<std::filesystem::path> present = {a,        b,           c,        d,        e,
                                                     journalA, journalGone, journalD, journalE, "/r/notes.txt"};
    const std::set<std::filesystem::path> journaled = {a, "/r/X.mov", d, e};
    struct Row {
        LeftRecording::File file;
        Action action;
    };
    const std::vector<Row> rows = {
        {{a, std::nullopt, false}, Action::finish},          // cut short, its journal beside it
        {{journalA, a, false}, Action::none},                // goes with its movie
        {{journalGone, "/r/X.mov", false}, Action::remove},  // its movie is gone
        {{b, std::nullopt, true}, Action::store},            // finished, then the camera ended before storing it
        {{c, std::nullopt, false}, Action::finish},          // no journal and no index: the recorder saves what plays
        {{"/r/notes.txt", std::nullopt, false}, Action::leave},  // not a take's
        {{d, std::nullopt, false}, Action::leave},               // being recorded
        {{journalD, d, false}, Action::leave},
        {{journalE, e, false}, Action::none},
        // The room kept for an index holds no footage: it goes with its movie, or by itself when that is gone.
        {{"/r/.A.mov.reserve", std::nullopt, false, a}, Action::none},
        {{"/r/.X.mov.reserve", std::nullopt, false, "/r/X.mov"}, Action::remove},
        {{"/r/.B.mov.reserve", std::nullopt, false, b}, Action::remove},  // its movie was finished
        {{"/r/.D.mov.reserve", std::nullopt, false, d}, Action::leave},
        {{"/r/A.mov.unfinished", std::nullopt, false}, Action::leave},  // set aside: kept
    };
    for (std::size_t i = 0; i < rows.size(); ++i)
        EXPECT_EQ(LeftRecording::decide(rows[i].file, present, journaled, d), rows[i].action) << "row " << i;
}

}  // namespace
}  // namespace morvane
