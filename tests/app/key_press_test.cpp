// Number keys pressed while the remote's main thread is busy: each press cuts at the moment it was made.

#include <QTest>

#include <fstream>

#include "screen_fixture.h"

namespace morvane {
namespace {

using PressTest = ScreenTest;

TEST_F(PressTest, PressesHandledLateCutAtTheMomentTheyWereMade) {
    struct Press {
        int key;
        double stamp;    // seconds on the window system's clock after the first event
        double handled;  // seconds on the wall clock after the first event
    };
    struct Case {
        const char* what;
        std::vector<Press> presses;
        std::vector<std::pair<std::string, double>> cuts;  // seconds after the first event
    };
    const Case cases[] = {
        {"two presses during a freeze, handled together",
         {{2, 1.0, 3.0}, {3, 1.53, 3.0}},
         {{"Cam B", 1.0}, {"Cam C", 1.53}}},
        {"back and forth within a freeze: three cuts, in order",
         {{2, 1.0, 4.0}, {3, 1.2, 4.0}, {2, 1.4, 4.001}},
         {{"Cam B", 1.0}, {"Cam C", 1.2}, {"Cam B", 1.4}}},
        {"a press handled at once", {{2, 0.5, 0.5}, {3, 2.0, 2.0}}, {{"Cam B", 0.5}, {"Cam C", 2.0}}},
        {"a stamp from a clock that was set: when it was handled", {{2, -5000, 1.0}}, {{"Cam B", 1.0}}},
    };
    Date clock = Date::now();
    int run = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        shoot = std::make_unique<ShootLibrary>(
            ShootLibrary::Environment{defaults.get(), root / ("Movies " + std::to_string(++run))});
        auto o = options();
        o.environment.now = [&clock] { return clock; };
        screen = std::make_unique<MonitorScreen>(o);
        auto& s = *screen;
        s.show();
        s.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&s));
        connect({{1, "Cam A"}, {2, "Cam B"}, {3, "Cam C"}});
        controller().setDeckMode(true);
        QCoreApplication::processEvents();

        // An earlier key handled at once ties the stamps to the wall clock (stamps of a clock no guess matches).
        const Date first = clock = Date::now();
        const unsigned long base = 5'000'000'000UL;
        const auto stamp = [&](double seconds) { return static_cast<unsigned long>(base + seconds * 1000); };
        qt_sendShortcutOverrideEvent(&s, stamp(0), Qt::Key_9, Qt::NoModifier, "9");
        for (const auto& p : c.presses) {
            clock = first.addingTimeInterval(p.handled);
            qt_sendShortcutOverrideEvent(&s, stamp(p.stamp), Qt::Key_0 + p.key, Qt::NoModifier, QString::number(p.key));
        }
        shoot->waitUntilIdle();
        std::ifstream in(shoot->folderURL(first) / ".quorbelin-shoot.json");
        const std::string body((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const auto day = ShootLibrary::decodeManifest(body);
        ASSERT_TRUE(day);
        ASSERT_EQ(day->cuts.size(), c.cuts.size());
        for (std::size_t i = 0; i < c.cuts.size(); ++i) {
            EXPECT_EQ(day->cuts[i].camera, c.cuts[i].first);
            // Well within a frame: the tie to the wall clock may loosen by a millisecond a second.
            EXPECT_NEAR(day->cuts[i].at.timeIntervalSince(first), c.cuts[i].second, 0.01) << i;
        }
        screen.reset();
    }
}

}  // namespace
}  // namespace morvane
