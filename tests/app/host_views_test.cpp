// The live-picture host fed by a real H.264 stream, the camera preview's layout maths, the help page's rules
// and the nearby cameras' rows.

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTest>

#include <cmath>

#include "../remote_video/live_stream.h"
#include "app/camera_preview.h"
#include "app/display_layer_view.h"
#include "app/help_web_screen.h"
#include "app/nearby_cameras_view.h"
#include "qt_main_executor.h"
#include "qt_wait.h"
#include "remote/video_receiver.h"

namespace morvane {
namespace {

bool waitFor(const std::function<bool()>& condition, int milliseconds = 5000) {
    return test::eventually(condition, milliseconds);
}

bool isBlack(QRgb pixel) {
    return qRed(pixel) < 16 && qGreen(pixel) < 16 && qBlue(pixel) < 16;
}

TEST(DisplayLayerView, ALiveStreamReachesItsHostTurnedAndFitted) {
    auto receiver = VideoReceiver::make(QtMainExecutor::shared());
    std::optional<QSizeF> reported;
    receiver->onPictureSize = [&](std::optional<QSizeF> size) { reported = size; };
    DisplayLayerView host(receiver);
    host.resize(400, 300);
    host.show();

    // A 320 × 240 camera held upright: each frame asks for one quarter turn.
    testing::LiveStream stream(320, 240);
    for (int i = 0; i < 5; ++i) {
        auto frame = stream.next(i == 0, 1);
        if (frame.parameterSets) receiver->receive(*frame.parameterSets);
        receiver->receive(frame.frame);
    }
    ASSERT_TRUE(waitFor([&] { return !receiver->containerLayer().picture().isNull() && reported; }));
    EXPECT_EQ(*reported, QSizeF(240, 320)) << "the picture size as shown, turned";
    EXPECT_EQ(receiver->containerLayer().quarterTurns(), 1);
    EXPECT_EQ(receiver->containerLayer().frame(), QRectF(0, 0, 400, 300));

    // Turned to 240 × 320 and fitted into 400 × 300: 225 wide, centred, with black bars either side.
    const QImage shot = host.grab().toImage();
    EXPECT_TRUE(isBlack(shot.pixel(40, 150)));
    EXPECT_TRUE(isBlack(shot.pixel(360, 150)));
    int lit = 0;
    for (int x = 100; x < 300; x += 10)
        for (int y = 10; y < 290; y += 10) lit += isBlack(shot.pixel(x, y)) ? 0 : 1;
    EXPECT_GT(lit, 300) << "the picture fills the middle";
    EXPECT_GT(host.picturesDrawn(), 0u);

    // A click maps into the picture, not onto the bars.
    const auto centre = host.picturePoint(QPointF(200, 150));
    ASSERT_TRUE(centre);
    EXPECT_NEAR(centre->x(), 0.5, 0.01);
    EXPECT_NEAR(centre->y(), 0.5, 0.01);
    EXPECT_FALSE(host.picturePoint(QPointF(40, 150)));

    // Resizing relays the new bounds at once.
    host.resize(640, 200);
    EXPECT_EQ(receiver->containerLayer().frame(), QRectF(0, 0, 640, 200));
    receiver->onPictureSize = nullptr;
}

TEST(DisplayLayerView, AHostWithoutAPictureDrawsBlack) {
    auto receiver = VideoReceiver::make(QtMainExecutor::shared());
    DisplayLayerView host(receiver);
    host.resize(160, 90);
    const QImage shot = host.grab().toImage();
    EXPECT_TRUE(isBlack(shot.pixel(80, 45)));
    EXPECT_FALSE(host.picturePoint(QPointF(80, 45)));
}

TEST(CameraPreview, LayoutTurnsMirrorsAndCentres) {
    struct Case {
        bool mirrored;
        double angle;
        QPointF topLeftMapsTo;
        QSizeF frame;
    };
    const QRectF bounds(0, 0, 400, 200);
    const Case cases[] = {
        {false, 0, {0, 0}, {400, 200}},       {true, 0, {400, 0}, {400, 200}},    {false, 90, {400, 0}, {200, 400}},
        {false, 180, {400, 200}, {400, 200}}, {true, 90, {400, 200}, {200, 400}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.angle);
        const auto layout = lutPreviewLayout(c.mirrored, bounds, c.angle);
        EXPECT_EQ(layout.frame.size(), c.frame);
        EXPECT_EQ(layout.frame.center(), bounds.center());
        const QPointF mapped = layout.transform.map(layout.frame.topLeft());
        EXPECT_NEAR(mapped.x(), c.topLeftMapsTo.x(), 1e-9);
        EXPECT_NEAR(mapped.y(), c.topLeftMapsTo.y(), 1e-9);
        // Turned, the frame covers the bounds exactly.
        const QRectF covered = layout.transform.mapRect(layout.frame);
        EXPECT_NEAR(covered.width(), 400, 1e-9);
        EXPECT_NEAR(covered.height(), 200, 1e-9);
    }
    EXPECT_FALSE(previewAngleChanged(90, 90));
    EXPECT_TRUE(previewAngleChanged(90, 90.5));
    EXPECT_TRUE(previewAngleChanged(NAN, NAN));
}

TEST(CameraPreview, AChangedAngleLaysOutOnceAndTapsOnTheBarsAreIgnored) {
    CameraPreview preview;
    preview.resize(400, 300);
    QImage picture(160, 90, QImage::Format_RGB32);
    picture.fill(Qt::green);
    preview.setPicture(picture);
    preview.setPreviewAngle(0);
    QCoreApplication::processEvents();
    const int passes = preview.layoutPasses();
    preview.setPreviewAngle(0);
    QCoreApplication::processEvents();
    EXPECT_EQ(preview.layoutPasses(), passes) << "an unchanged angle";
    preview.setPreviewAngle(90);
    preview.setPreviewAngle(180);
    QCoreApplication::processEvents();
    EXPECT_EQ(preview.layoutPasses(), passes + 1);
    preview.setPreviewAngle(0);
    QCoreApplication::processEvents();

    std::vector<QPointF> taps;
    preview.onTap = [&](QPointF, QPointF device) { taps.push_back(device); };
    // 160 × 90 fitted into 400 × 300: 400 × 225, bars of 37.5 above and below.
    QTest::mouseClick(&preview, Qt::LeftButton, {}, QPoint(200, 10));
    EXPECT_TRUE(taps.empty());
    QTest::mouseClick(&preview, Qt::LeftButton, {}, QPoint(100, 150));
    ASSERT_EQ(taps.size(), 1u);
    EXPECT_NEAR(taps[0].x(), 0.25, 0.01);
    EXPECT_NEAR(taps[0].y(), 0.5, 0.01);
}

TEST(HelpScreen, LinkRules) {
    struct Case {
        const char* url;
        bool linkClick;
        bool allow;
        const char* opens;  // "" for nothing
    };
    const QString base = helpWebsiteBase().toString();
    const Case cases[] = {
        {"", true, true, ""},
        {"qrc:/Help/help.html", false, true, ""},
        {"https://example.org/", false, true, ""},
        {"qrc:/Help/help.html#voice", true, true, ""},
        {"file:///opt/app/Help/help.html#keys", true, true, ""},
        {"qrc:/Help/faq.html", true, false, "faq.html"},
        {"file:///opt/app/Help/releases.html", true, false, "releases.html"},
        {"qrc:/Help/", true, false, "BASE"},
        {"qrc:/Help", true, false, "BASE"},
        {"https://example.org/page", true, false, "https://example.org/page"},
        {"mailto:support@brindlecroft.app", true, false, "mailto:support@brindlecroft.app"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        const auto decision = decideHelpNavigation(QUrl(QString::fromLatin1(c.url)), c.linkClick);
        EXPECT_EQ(decision.allow, c.allow);
        const QString opens = QString::fromLatin1(c.opens);
        if (opens.isEmpty()) {
            EXPECT_FALSE(decision.openExternally);
        } else {
            ASSERT_TRUE(decision.openExternally);
            const QString expected = opens == "BASE" ? base : opens.contains(':') ? opens : base + opens;
            EXPECT_EQ(decision.openExternally->toString(), expected);
        }
    }
}

TEST(HelpScreen, ThePageLoadsWithoutTheSiteHeaderAndSendsOutsideLinksOut) {
    EXPECT_EQ(preparedHelpPage("<body><header class=\"site-top x\"><a>Home</a></header><p>Hi</p></body>"),
              "<body><div style=\"margin-top:4px\"></div><p>Hi</p></body>");
    std::vector<QUrl> opened;
    HelpWebScreen screen([&](const QUrl& url) { opened.push_back(url); });
    screen.resize(700, 600);
    ASSERT_TRUE(screen.view()->pageLoaded()) << "the help page is bundled";
    const QString text = screen.view()->toPlainText();
    EXPECT_TRUE(text.contains("Pairing a camera"));
    EXPECT_FALSE(text.contains("Features")) << "the website's header is hidden";

    screen.view()->followLink(QUrl("#voice"));
    screen.view()->followLink(QUrl("faq.html"));
    screen.view()->followLink(QUrl("mailto:support@brindlecroft.app"));
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[0], QUrl(helpWebsiteBase().toString() + "faq.html"));
    EXPECT_EQ(opened[1], QUrl("mailto:support@brindlecroft.app"));
    EXPECT_TRUE(screen.view()->toPlainText().contains("Pairing a camera")) << "the view stays on the help page";
    EXPECT_TRUE(screen.view()->toPlainText().contains("To zoom, hold Ctrl and scroll on the camera's picture"))
        << "zoom has no button of its own: the help says where it is";
}

TEST(NearbyCameras, RowsAndTexts) {
    using L = NearbyRowFace::Label;
    using C = NearbyRowFace::Control;
    struct Case {
        const char* what;
        bool thisDevice, connected, connecting, paired;
        NearbyRowFace face;
    };
    const Case cases[] = {
        {"this device", true, true, true, true, {L::thisDevice, C::none}},
        {"connected, also connecting", false, true, true, false, {L::connected, C::disconnect}},
        {"connecting, paired", false, false, true, true, {L::paired, C::spinner}},
        {"connecting, not paired", false, false, true, false, {L::none, C::spinner}},
        {"paired", false, false, false, true, {L::paired, C::connect}},
        {"new", false, false, false, false, {L::none, C::pair}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        CameraLink::NearbyCamera camera;
        camera.isThisDevice = c.thisDevice;
        camera.isConnected = c.connected;
        camera.isConnecting = c.connecting;
        camera.isPaired = c.paired;
        EXPECT_EQ(nearbyRowFace(camera), c.face);
    }
    CameraLink::NearbyCamera me;
    me.isThisDevice = true;
    CameraLink::NearbyCamera other;
    EXPECT_TRUE(showsWaitingText({}));
    EXPECT_TRUE(showsWaitingText({me}));
    EXPECT_FALSE(showsWaitingText({me, other}));
    EXPECT_EQ(connectedCountLine(2, 4), "2 of 4 connected");
    EXPECT_EQ(connectedCountLine(0, 1), "");
}

}  // namespace
}  // namespace morvane
