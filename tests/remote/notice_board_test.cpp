#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "remote/notice_board.h"

namespace morvane {
namespace {

using Notice = NoticeBoard::Notice;

Notice passing(std::string text) {
    return {.text = std::move(text)};
}
Notice matters(std::string text) {
    return {.text = std::move(text), .seconds = 6, .matters = true};
}
Notice stays(std::string text, std::string key = {}, std::string several = {}) {
    return {
        .text = std::move(text), .matters = true, .key = std::move(key), .stays = true, .several = std::move(several)};
}

// A camera's notice about a subject.
Notice from(std::string camera, std::string text, std::string subject) {
    Notice notice = stays(std::move(text), "about " + subject);
    notice.camera = camera;
    notice.cameraName = "Cam " + camera;
    notice.subject = std::move(subject);
    return notice;
}

// The same, from another session of that camera (it started again).
Notice fromSession(std::string session, std::string camera, std::string text, std::string subject) {
    Notice notice = from(std::move(camera), std::move(text), std::move(subject));
    notice.camera = std::move(session);
    return notice;
}

// Camera A's take without sound, telling its occurrence.
Notice silentTake(const std::string& take, std::string occurrence) {
    Notice notice = from("A", "No sound", "take:" + take);
    notice.key = "takes without sound A";
    notice.several = "%n takes have no sound";
    notice.bySubject = true;
    notice.occurrence = std::move(occurrence);
    return notice;
}

// What the band shows after each step, top to bottom.
TEST(NoticeBoard, NoticesThatStayShowUntilReadAndSeveralOfAKindAreSaidOnce) {
    struct Step {
        enum { post, expire, dismiss, withdraw, nameCameras } what;
        Notice notice;  // posted; or, by its text, the one whose time is up or that is read
        std::vector<std::string> shows;
        std::optional<std::string> says = std::nullopt;  // the newest it shows, where it is not the last
    };
    struct Case {
        const char* what;
        std::vector<Step> steps;
    };
    const std::string away = "The shoot folder Shoots isn't there: saved ";
    const auto saved = [&](const std::string& file) {
        return stays(away + file + " in Brindlecroft › 2026-12-08", "away",
                     away + "%n takes in Brindlecroft › 2026-12-08");
    };
    const Case cases[] = {
        {"a notice that stays outlasts what comes after it, until it is read",
         {{Step::post, stays("No sound"), {"No sound"}},
          {Step::post, passing("Saved Take 01"), {"No sound", "Saved Take 01"}},
          {Step::expire, passing("Saved Take 01"), {"No sound"}},
          {Step::post, matters("Lost the link to A"), {"No sound", "Lost the link to A"}},
          {Step::expire, matters("Lost the link to A"), {"No sound"}},
          {Step::dismiss, stays("No sound"), {}}}},
        {"four takes filed away at one stop are said once, counted",
         {{Step::post, saved("Take 01 – A.mov"), {away + "Take 01 – A.mov in Brindlecroft › 2026-12-08"}},
          {Step::post, saved("Take 01 – B.mov"), {away + "2 takes in Brindlecroft › 2026-12-08"}},
          {Step::post, saved("Take 01 – C.mov"), {away + "3 takes in Brindlecroft › 2026-12-08"}},
          {Step::post, saved("Take 01 – D.mov"), {away + "4 takes in Brindlecroft › 2026-12-08"}}}},
        {"read, the kind is counted afresh",
         {{Step::post, saved("1.mov"), {away + "1.mov in Brindlecroft › 2026-12-08"}},
          {Step::post, saved("2.mov"), {away + "2 takes in Brindlecroft › 2026-12-08"}},
          {Step::dismiss, stays(away + "2 takes in Brindlecroft › 2026-12-08"), {}},
          {Step::post, saved("3.mov"), {away + "3.mov in Brindlecroft › 2026-12-08"}}}},
        {"the same words said again are said once, where they first stood",
         {{Step::post, stays("A: Capture failed"), {"A: Capture failed"}},
          {Step::post, stays("B: Capture failed"), {"A: Capture failed", "B: Capture failed"}},
          {Step::post, stays("A: Capture failed"), {"A: Capture failed", "B: Capture failed"}, "A: Capture failed"}}},
        {"one that stays never waits behind one that matters",
         {{Step::post, matters("Lost the link to A"), {"Lost the link to A"}},
          {Step::post,
           stays("Couldn't save a file from A"),
           {"Couldn't save a file from A", "Lost the link to A"},
           "Couldn't save a file from A"},
          {Step::post,
           passing("Marker 3"),
           {"Couldn't save a file from A", "Lost the link to A"},
           "Couldn't save a file from A"},
          {Step::expire, matters("Lost the link to A"), {"Couldn't save a file from A", "Marker 3"}}}},
        {"one notice from several cameras names each once there are several, until its cause has passed for all",
         {{Step::post, from("A", "late", "realTime"), {"late"}},
          {Step::nameCameras, {}, {"Cam A: late"}},
          {Step::post, from("B", "late", "realTime"), {"Cam A, Cam B: late"}},
          {Step::post, from("A", "late", "realTime"), {"Cam A, Cam B: late"}},
          {Step::withdraw, from("A", "", "realTime"), {"Cam B: late"}},
          {Step::withdraw, from("B", "", "realTime"), {}}}},
        {"a camera that starts again, in another session, is named once by its name",
         {{Step::post, from("A", "late", "realTime"), {"late"}},
          {Step::nameCameras, {}, {"Cam A: late"}},
          {Step::post, from("B", "late", "realTime"), {"Cam A, Cam B: late"}},
          {Step::post, fromSession("A2", "A", "late", "realTime"), {"Cam A, Cam B: late"}},
          {Step::withdraw, fromSession("A2", "A", "", "realTime"), {"Cam B: late"}}}},
        {"takes without sound of one camera are one notice counting each take once, one fewer as one passes",
         {{Step::post, silentTake("1", "o1"), {"No sound"}},
          {Step::post, silentTake("2", "o2"), {"2 takes have no sound"}},
          {Step::post, silentTake("1", "o1"), {"2 takes have no sound"}},
          {Step::post, silentTake("3", "o3"), {"3 takes have no sound"}},
          {Step::withdraw, silentTake("1", ""), {"2 takes have no sound"}},
          {Step::withdraw, silentTake("3", ""), {"No sound"}},
          {Step::withdraw, silentTake("2", ""), {}}}},
        {"what was dismissed is not shown again when told again; a new occurrence is",
         {{Step::post, silentTake("1", "o1"), {"No sound"}},
          {Step::post, silentTake("2", "o2"), {"2 takes have no sound"}},
          {Step::dismiss, stays("2 takes have no sound"), {}},
          {Step::post, silentTake("2", "o2"), {}},
          {Step::post, silentTake("1", "o1"), {}},
          {Step::post, silentTake("3", "o3"), {"No sound"}}}},
        {"told again, the occurrence shown is no news; said anew, it is",
         {{Step::post, silentTake("1", "o1"), {"No sound"}},
          {Step::post, stays("Capture failed"), {"No sound", "Capture failed"}},
          {Step::post, silentTake("1", "o1"), {"No sound", "Capture failed"}},
          {Step::post, silentTake("1", "o1b"), {"No sound", "Capture failed"}, "No sound"}}},
        {"reading one that is not there changes nothing",
         {{Step::post, stays("No sound"), {"No sound"}}, {Step::dismiss, stays("Other"), {"No sound"}}}},
    };
    for (const auto& c : cases) {
        NoticeBoard board;
        for (std::size_t i = 0; i < c.steps.size(); ++i) {
            const auto& step = c.steps[i];
            const auto shown = board.shown();
            auto named = std::find_if(shown.begin(), shown.end(),
                                      [&](const NoticeBoard::Shown& s) { return s.text == step.notice.text; });
            switch (step.what) {
                case Step::post:
                    board.post(step.notice);
                    break;
                case Step::expire:
                    ASSERT_NE(named, shown.end()) << c.what << ", step " << i;
                    board.expire(named->id);
                    break;
                case Step::dismiss:
                    EXPECT_EQ(board.dismiss(named == shown.end() ? 0 : named->id), named != shown.end())
                        << c.what << ", step " << i;
                    break;
                case Step::withdraw:
                    board.withdraw(step.notice.subject, step.notice.camera);
                    break;
                case Step::nameCameras:
                    board.nameCameras();
                    break;
            }
            std::vector<std::string> texts;
            for (const auto& s : board.shown()) texts.push_back(s.text);
            EXPECT_EQ(texts, step.shows) << c.what << ", step " << i;
            EXPECT_EQ(board.text(), step.says            ? step.says
                                    : step.shows.empty() ? std::nullopt
                                                         : std::optional(step.shows.back()))
                << c.what << ", step " << i;
        }
    }
}

// What the crew dismissed is remembered by another board (the remote started again), the newest few of it.
TEST(NoticeBoard, DismissedOccurrencesAreKeptTheNewestFirstAndForgottenWhenTheirCausePasses) {
    NoticeBoard before;
    for (std::size_t i = 0; i <= NoticeBoard::dismissedCapacity; ++i) {
        before.post(silentTake(std::to_string(i), "o" + std::to_string(i)));
        ASSERT_EQ(before.shown().size(), 1u);
        before.dismiss(before.shown()[0].id);
    }
    ASSERT_EQ(before.dismissed().size(), NoticeBoard::dismissedCapacity);
    EXPECT_EQ(before.dismissed().front(), "o1") << "the oldest goes";
    NoticeBoard after;
    after.rememberDismissed({before.dismissed().begin(), before.dismissed().end()});
    after.post(silentTake("1", "o1"));
    after.post(silentTake("0", "o0"));
    ASSERT_EQ(after.shown().size(), 1u);
    EXPECT_EQ(after.shown()[0].text, "No sound");
    EXPECT_TRUE(after.forget("o1"));
    EXPECT_FALSE(after.forget("o1"));
    after.post(silentTake("1", "o1"));
    EXPECT_EQ(after.shown()[0].text, "2 takes have no sound");
}

}  // namespace
}  // namespace morvane
