// The small shared controls and the large sheet, rendered offscreen.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>

#include "camera_panels/app_logo.h"
#include "camera_panels/caption_views.h"
#include "camera_panels/close_button.h"
#include "camera_panels/labeled_control.h"
#include "camera_panels/large_sheet.h"
#include "platform/theme.h"

namespace morvane {
namespace {

TEST(SmallControls, LogoGeometryFollowsItsSize) {
    AppLogo logo(100);
    EXPECT_DOUBLE_EQ(logo.cornerRadius(), 22.5);
    EXPECT_DOUBLE_EQ(logo.shadowRadius(), 6);
    EXPECT_DOUBLE_EQ(logo.shadowOffset(), 3);
    ASSERT_FALSE(AppLogo::logoImage().isNull()) << "the Logo resource is missing";
    const QImage shot = logo.grab().toImage();
    // The mark is drawn in the middle, and the rounded corners leave the very corner of the square empty.
    const QPoint centre(shot.width() / 2, shot.height() / 2);
    EXPECT_EQ(qAlpha(shot.pixel(centre)), 255);
    const int margin = (shot.width() - 100) / 2;
    EXPECT_LT(qAlpha(shot.pixel(margin + 1, margin + 1)), 128);
}

TEST(SmallControls, LabeledControlKeepsOneLineAndItsBounds) {
    int presses = 0;
    LabeledControl control(QStringLiteral("Stabilisation extended, cinematic"), "timer", false, [&] { ++presses; });
    const QSize hint = control.sizeHint();
    EXPECT_EQ(hint.width(), LabeledControl::wideMaximumWidth) << "a long title widens its control so far";
    EXPECT_GE(hint.height(), 44);
    const auto fitted = theme::fitOneLine(theme::systemFont(10, QFont::DemiBold), control.title(), hint.width(), 0.7);
    EXPECT_TRUE(fitted.text.endsWith(QChar(0x2026))) << "a title too long even at 0.7 is cut";
    // The format badge reads at its full size; a short title keeps the usual width.
    const struct {
        const char* title;
        int minimum, maximum;
    } widths[] = {{"4K·23.98·LOG", 59, 100}, {"Dim", 40, 40}, {"Voice", 40, 58}};
    for (const auto& w : widths) {
        LabeledControl c(QString::fromUtf8(w.title), "timer", false, nullptr);
        EXPECT_GE(c.sizeHint().width(), w.minimum) << w.title;
        EXPECT_LE(c.sizeHint().width(), w.maximum) << w.title;
        const auto shown =
            theme::fitOneLine(theme::systemFont(10, QFont::DemiBold), c.title(), c.sizeHint().width(), 0.7);
        EXPECT_EQ(shown.text, c.title()) << w.title;
        EXPECT_EQ(shown.font, theme::systemFont(10, QFont::DemiBold)) << w.title << " is not shrunk";
    }

    EXPECT_EQ(control.tint(), theme::white());
    control.setActive(true);
    EXPECT_EQ(control.tint(), theme::yellow());

    control.resize(hint);
    QTest::mouseClick(&control, Qt::LeftButton);
    EXPECT_EQ(presses, 1);

    LabeledControl narrow(QStringLiteral("ISO"), "camera", false, nullptr);
    EXPECT_EQ(narrow.sizeHint().width(), 40);
}

TEST(SmallControls, CaptionViewsShowTheirTextVerbatim) {
    HeardLine heard(QStringLiteral("cut “now”"));
    EXPECT_EQ(heard.accessibleName(), QStringLiteral("Heard: cut “now”"));
    heard.setText(QStringLiteral("mark"));
    EXPECT_EQ(heard.accessibleName(), QStringLiteral("Heard: mark"));

    Toast toast(QStringLiteral("Photo saved on camera"));
    toast.resize(toast.sizeHint());
    const QImage shot = toast.grab().toImage();
    // A capsule: transparent corners, filled middle.
    EXPECT_EQ(qAlpha(shot.pixel(0, 0)), 0);
    EXPECT_GT(qAlpha(shot.pixel(shot.width() / 2, 2)), 0);
}

TEST(SmallControls, CloseButtonCallsItsActionOncePerPress) {
    int presses = 0;
    CloseButton button([&] { ++presses; });
    EXPECT_EQ(button.accessibleName(), QStringLiteral("Close"));
    EXPECT_EQ(button.width(), button.height());
    QTest::mouseClick(&button, Qt::LeftButton);
    EXPECT_EQ(presses, 1);
}

TEST(LargeSheet, CoversTheWholeWindowAndClosesThroughItsFlag) {
    QWidget window;
    window.resize(900, 600);
    auto* screen = new QWidget(&window);
    screen->setGeometry(100, 100, 300, 200);
    int built = 0;
    LargeSheet sheet(screen, [&] {
        ++built;
        return new QLabel(QStringLiteral("Takes"));
    });
    QSignalSpy changes(&sheet, &LargeSheet::presentedChanged);
    window.show();

    sheet.setPresented(true);
    ASSERT_TRUE(sheet.cover());
    EXPECT_EQ(sheet.cover()->parentWidget(), &window);
    EXPECT_EQ(sheet.cover()->geometry(), window.rect());
    EXPECT_EQ(built, 1);

    window.resize(1000, 700);
    QCoreApplication::processEvents();
    EXPECT_EQ(sheet.cover()->geometry(), window.rect()) << "the cover follows the window";
    EXPECT_TRUE(sheet.cover()->findChildren<QAbstractButton*>().isEmpty()) << "the content brings its own close";

    // Escape clears the presenter's flag.
    QPointer<QWidget> content = sheet.content();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QTest::keyClick(sheet.cover(), Qt::Key_Escape);
    EXPECT_FALSE(sheet.isPresented());
    ASSERT_EQ(changes.count(), 2);
    EXPECT_EQ(changes.at(1).at(0).toBool(), false);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(content.isNull());

    // Presented again, it builds its content anew; the presenter's false closes it.
    sheet.setPresented(true);
    EXPECT_EQ(built, 2);
    sheet.setPresented(false);
    EXPECT_EQ(sheet.cover(), nullptr);
    sheet.setPresented(false);
    EXPECT_EQ(changes.count(), 4) << "setting the flag to what it is reports nothing";
}

}  // namespace
}  // namespace morvane
