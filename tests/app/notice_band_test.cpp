// The notices that stay, as a person reads them one after another.

#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QTest>

#include "app/notice_band.h"
#include "camera_panels/close_button.h"
#include "platform/theme.h"

namespace morvane {
namespace {

NoticeBoard::Shown notice(std::uint64_t id, std::string text) {
    return {.id = id, .text = std::move(text), .folders = {}, .stays = true};
}

// Read, the newest goes and the next takes its place: on its card where that fits, else on the bar. Either way the
// next close button comes under the pointer, and no other button (least of all "Dismiss all") lies where it was.
TEST(StayingNotices, TheNextCloseButtonComesWhereTheLastOneWas) {
    using S = NoticePlan::Staying;
    theme::apply(*qobject_cast<QApplication*>(QCoreApplication::instance()));
    const auto shortOne = notice(1, "Cam A: the microphone gives nothing");
    const auto longOne =
        notice(2,
               "The shoot folder Shoot isn't there: saved 4 takes in Videos › Brindlecroft › Unfiled. Plug in the "
               "drive that holds it, or choose another shoot folder in Settings; the takes stay where they are");
    const auto newest = notice(3, "Cam C: can't record the chosen format in real time");
    struct Case {
        const char* what;
        std::vector<NoticeBoard::Shown> left;
        S next;
        std::uint64_t closes;  ///< the notice the second click reads
    };
    const Case cases[] = {
        {"the next is too long for the card: the bar", {shortOne, longOne}, S::bar, 2},
        {"the next fits the card", {longOne, shortOne}, S::card, 1},
        {"the last one, on the bar", {longOne}, S::bar, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QWidget window;
        window.resize(1024, 640);
        std::vector<std::uint64_t> read;
        auto* notices = new StayingNotices(
            {}, [&](std::uint64_t id) { read.push_back(id); }, &window);
        // On the room's bottom, as `placeNotices` stands them.
        auto place = [&](S part) {
            notices->setPart(part);
            const int height = part == S::card ? notices->cardHeight(640) : notices->barHeight();
            notices->setGeometry(40, 560 - height, 640, height);
        };
        auto first = c.left;
        first.push_back(newest);
        notices->setNotices(first);
        place(S::card);
        window.show();
        QCoreApplication::processEvents();
        auto closeIn = [&]() -> CloseButton* {
            auto closes = notices->shown()->findChildren<CloseButton*>();
            return closes.size() == 1 ? closes[0] : nullptr;
        };
        ASSERT_TRUE(closeIn());
        const QRect close(closeIn()->mapTo(&window, QPoint(0, 0)), closeIn()->size());

        notices->setNotices(c.left);
        place(c.next);
        QCoreApplication::processEvents();
        QWidget* under = window.childAt(close.center());
        ASSERT_TRUE(under);
        EXPECT_TRUE(qobject_cast<CloseButton*>(under) || qobject_cast<CloseButton*>(under->parentWidget()))
            << "under the pointer: " << under->metaObject()->className() << " " << under->objectName().toStdString();
        ASSERT_TRUE(closeIn());
        EXPECT_EQ(QRect(closeIn()->mapTo(&window, QPoint(0, 0)), closeIn()->size()), close);
        if (auto* all = notices->dismissAllButton()) {
            EXPECT_FALSE(QRect(all->mapTo(&window, QPoint(0, 0)), all->size()).contains(close.center()));
        }
        QTest::mouseClick(closeIn(), Qt::LeftButton);
        QCoreApplication::processEvents();
        EXPECT_EQ(read, std::vector<std::uint64_t>{c.closes}) << "one notice read, the newest of those left";
    }
}

}  // namespace
}  // namespace morvane
