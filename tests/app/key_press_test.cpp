// Keys and clicks pressed while the remote's main thread is busy: each press cuts or marks at the moment it was made.

#include <QMouseEvent>
#include <QTest>

#include <fstream>

#include "app/deck_bar.h"
#include "app/deck_button.h"
#include "app/feed_tile.h"
#include "app/press_clock.h"
#include "app/selected_feed_controls.h"
#include "camera_panels/labeled_control.h"
#include "protocol/message_codec.h"
#include "screen_fixture.h"

namespace morvane {
namespace {

struct PressTest : ScreenTest {
    // A screen over a shoot library of its own (in `folder`), whose wall clock is `clock`.
    void openOnClock(const std::string& folder, const Date& clock) {
        shoot = std::make_unique<ShootLibrary>(ShootLibrary::Environment{defaults.get(), root / folder});
        auto o = options();
        o.environment.now = [&clock] { return clock; };
        screen = std::make_unique<MonitorScreen>(o);
    }
    // Window system stamps (ms) of a clock no guess matches, tied to the wall clock `clock` by an earlier key handled
    // at once; `first` is the moment of that key, and `stamp(seconds)` the stamp of a press that many seconds later.
    struct TiedStamps {
        Date first;
        unsigned long stamp(double seconds) const { return static_cast<unsigned long>(base + seconds * 1000); }
        static constexpr unsigned long base = 5'000'000'000UL;
    };
    TiedStamps tieStamps(QWidget& s, Date& clock) {
        const TiedStamps tied{clock = Date::now()};
        qt_sendShortcutOverrideEvent(&s, tied.stamp(0), Qt::Key_9, Qt::NoModifier, "9");
        return tied;
    }
    // The day's manifest, once the library filed everything.
    auto dayOf(const Date& first) {
        shoot->waitUntilIdle();
        std::ifstream in(shoot->folderURL(first) / ".quorbelin-shoot.json");
        const std::string body((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        return ShootLibrary::decodeManifest(body);
    }
};

TEST(PressClockTest, APressLandsAtItsMomentAfterAnyIdleSpell) {
    struct Event {
        double stamp;    // seconds on the stamps' clock after the first event
        double handled;  // seconds on the wall clock after the first event
        double set = 0;  // how far the wall clock was set ahead of the stamps' clock since the first event
    };
    struct Case {
        const char* what;
        bool known;  // the stamps' clock is the one the guess reads
        std::vector<Event> events;
        double madeAt;  // of the last event, seconds after the first
    };
    const Case cases[] = {
        {"known clock: a press handled 1.5 s late", true, {{0, 0}, {10, 11.5}}, 10},
        {"known clock, five idle minutes: a press handled 0.2 s late", true, {{0, 0}, {300, 300.2}}, 300},
        {"known clock, an idle hour: a press handled 1.5 s late", true, {{0, 0}, {3600, 3601.5}}, 3600},
        {"known clock, the wall clock set 0.4 s ahead while idle", true, {{0, 0}, {300, 300.6, 0.4}}, 300.4},
        {"known clock: a press older than a minute is taken when handled", true, {{0, 0}, {10, 100}}, 100},
        {"unknown clock: tied by a prompt event", false, {{0, 0}, {5, 5}, {6, 7.5}}, 6},
    };
    const Date start = Date::now();
    const std::uint64_t base = 1'000'000;  // ms
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PressClock clock;
        Date made;
        for (const auto& e : c.events) {
            const Date handled = start.addingTimeInterval(e.handled);
            const std::optional<double> guess =
                c.known ? std::optional<double>(start.secondsSinceReferenceDate - base / 1000.0 + e.set) : std::nullopt;
            made = clock.madeAt(base + static_cast<std::uint64_t>(std::llround(e.stamp * 1000)), handled, guess);
        }
        // Well within a frame: an unknown clock's tie may loosen by a millisecond a second.
        EXPECT_NEAR(made.timeIntervalSince(start), c.madeAt, 0.01);
    }
}

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
        openOnClock("Movies " + std::to_string(++run), clock);
        auto& s = *screen;
        s.show();
        s.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&s));
        connect({{1, "Cam A"}, {2, "Cam B"}, {3, "Cam C"}});
        controller().setDeckMode(true);
        QCoreApplication::processEvents();

        const auto tied = tieStamps(s, clock);
        const Date first = tied.first;
        for (const auto& p : c.presses) {
            clock = first.addingTimeInterval(p.handled);
            qt_sendShortcutOverrideEvent(&s, tied.stamp(p.stamp), Qt::Key_0 + p.key, Qt::NoModifier,
                                         QString::number(p.key));
        }
        const auto day = dayOf(first);
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

TEST_F(PressTest, ClicksHandledLateCutAndMarkAtTheMomentTheyWerePressed) {
    enum class Control { key, strip, deckButton, mark };
    struct Press {
        Control control;
        int camera;      // its number; none for Mark
        double stamp;    // seconds on the window system's clock after the first event
        double handled;  // seconds on the wall clock after the first event
    };
    struct Case {
        const char* what;
        bool livePictures;  // strips over the pictures, else deck buttons
        std::vector<Press> presses;
        std::vector<std::pair<std::string, double>> cuts;  // seconds after the first event
        std::vector<double> markers;
    };
    using C = Control;
    const Case cases[] = {
        {"two strip clicks during a freeze, handled together",
         true,
         {{C::strip, 2, 1.0, 3.0}, {C::strip, 3, 1.53, 3.0}},
         {{"Cam B", 1.0}, {"Cam C", 1.53}},
         {}},
        {"two deck-button clicks during a freeze",
         false,
         {{C::deckButton, 2, 1.0, 2.5}, {C::deckButton, 1, 1.9, 2.5}},
         {{"Cam B", 1.0}, {"Cam A", 1.9}},
         {}},
        {"a key, a strip click and Mark within a freeze: each at its moment, in order",
         true,
         {{C::key, 2, 1.0, 4.0}, {C::strip, 3, 1.2, 4.0}, {C::mark, 0, 1.4, 4.001}},
         {{"Cam B", 1.0}, {"Cam C", 1.2}},
         {1.4}},
        {"clicks handled at once", true, {{C::strip, 2, 0.5, 0.5}, {C::mark, 0, 2.0, 2.0}}, {{"Cam B", 0.5}}, {2.0}},
    };
    Date clock = Date::now();
    int run = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        openOnClock("Clicks " + std::to_string(++run), clock);
        auto& s = *screen;
        s.resize(1280, 800);
        s.show();
        s.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&s));
        connect({{1, "Cam A"}, {2, "Cam B"}, {3, "Cam C"}});
        CameraStatus video;
        video.mode = CaptureMode::video;  // Mark is a video control
        for (int n = 1; n <= 3; ++n) {
            auto packet = encodeMessage(PacketType::status, video);
            ASSERT_TRUE(packet);
            controller().handlePeerData(*packet, peer(n));
        }
        controller().setDeckMode(true);
        controller().setLivePictures(c.livePictures);
        controller().setSelectedID(peer(1));  // its controls carry Mark
        ASSERT_TRUE(eventually([&] {
            return std::all_of(controller().feeds().begin(), controller().feeds().end(),
                               [](const auto& f) { return f->status().has_value(); });
        }));
        QCoreApplication::processEvents();

        const auto target = [&](const Press& p) -> QWidget* {
            if (p.control == C::mark) {
                auto* controls = s.findChild<SelectedFeedControls*>();
                return controls && controls->captureControls()
                           ? controls->captureControls()->sideControl(SideControlKind::mark)
                           : nullptr;
            }
            if (p.control == C::deckButton) {
                for (auto* button : s.findChildren<DeckButton*>())
                    if (button->feed()->id() == peer(p.camera)) return button;
                return nullptr;
            }
            for (auto* tile : s.findChildren<FeedTile*>())
                if (tile->feed()->id() == peer(p.camera)) return tile->deckBar();
            return nullptr;
        };
        const auto centre = [&](QWidget* w) { return w->mapTo(&s, QPointF(w->rect().center())); };
        // Laid out: every control to be clicked is in the window where it will be clicked.
        ASSERT_TRUE(eventually([&] {
            return std::all_of(c.presses.begin(), c.presses.end(), [&](const Press& p) {
                if (p.control == C::key) return true;
                QWidget* w = target(p);
                auto* at = w && w->isVisible() ? s.childAt(centre(w).toPoint()) : nullptr;
                return at && (at == w || w->isAncestorOf(at));
            });
        }));
        QCoreApplication::processEvents();

        const auto tied = tieStamps(s, clock);
        const Date first = tied.first;
        for (const auto& p : c.presses) {
            clock = first.addingTimeInterval(p.handled);
            if (p.control == C::key) {
                qt_sendShortcutOverrideEvent(&s, tied.stamp(p.stamp), Qt::Key_0 + p.camera, Qt::NoModifier,
                                             QString::number(p.camera));
                continue;
            }
            QWidget* w = target(p);
            ASSERT_TRUE(w && w->isVisible()) << static_cast<int>(p.control) << " " << p.camera;
            // Through the window, as the window system delivers a click: the press, and the release a moment later.
            const QPointF local = centre(w);
            const QPointF global = w->mapToGlobal(QPointF(w->rect().center()));
            for (const auto type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
                const bool press = type == QEvent::MouseButtonPress;
                QMouseEvent event(type, local, global, Qt::LeftButton, press ? Qt::LeftButton : Qt::NoButton,
                                  Qt::NoModifier);
                const double at = p.stamp + (press ? 0 : 0.08);
                event.setTimestamp(tied.stamp(at));
                clock = first.addingTimeInterval(std::max(p.handled, at));
                QCoreApplication::sendEvent(s.windowHandle(), &event);
            }
        }
        const auto day = dayOf(first);
        ASSERT_TRUE(day);
        ASSERT_EQ(day->cuts.size(), c.cuts.size());
        for (std::size_t i = 0; i < c.cuts.size(); ++i) {
            EXPECT_EQ(day->cuts[i].camera, c.cuts[i].first);
            EXPECT_NEAR(day->cuts[i].at.timeIntervalSince(first), c.cuts[i].second, 0.01) << i;
        }
        ASSERT_EQ(day->markers.size(), c.markers.size());
        for (std::size_t i = 0; i < c.markers.size(); ++i)
            EXPECT_NEAR(day->markers[i].date.timeIntervalSince(first), c.markers[i], 0.01) << i;
        screen.reset();
    }
}

}  // namespace
}  // namespace morvane
