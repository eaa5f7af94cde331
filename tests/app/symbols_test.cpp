// The symbol table against the icon font that ships with the system, and the colour helpers.

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include <set>
#include <string>

#include "platform/symbols.h"
#include "platform/theme.h"

namespace morvane {
namespace {

bool hasInk(const QImage& image) {
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) > 0) return true;
    return false;
}

TEST(Symbols, EveryNameIsUniqueAndDrawsAGlyphOfTheFont) {
    std::set<std::string_view> seen;
    for (auto name : symbolNames()) {
        SCOPED_TRACE(std::string(name));
        EXPECT_TRUE(seen.insert(name).second) << "listed twice";
        EXPECT_TRUE(symbolAvailable(name)) << "the icon font has no glyph for it";
        const QImage image = symbolPixmap(name, Qt::white, 24).toImage();
        EXPECT_TRUE(hasInk(image));
    }
}

TEST(Symbols, NamesTheScreensUseAreInTheTable) {
    for (const char* name : {"gearshape", "xmark", "eye", "eye.slash", "film.stack", "folder", "video.badge.plus",
                             "rectangle.3.group", "antenna.radiowaves.left.and.right", "waveform", "laptopcomputer",
                             "dot.radiowaves.left.and.right", "checkmark.seal.fill", "pause.fill", "play.fill"}) {
        EXPECT_TRUE(symbolCodePoint(name)) << name;
    }
}

TEST(Symbols, AnUnknownNameDrawsNothing) {
    EXPECT_FALSE(symbolCodePoint("no.such.symbol"));
    EXPECT_TRUE(symbolText("no.such.symbol").isEmpty());
    EXPECT_FALSE(hasInk(symbolPixmap("no.such.symbol", Qt::white, 24).toImage()));
}

TEST(Symbols, TheGlyphTakesTheGivenColour) {
    const QImage image = symbolPixmap("xmark", QColor(255, 0, 0), 32).toImage();
    int red = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            if (qAlpha(p) == 255) {
                EXPECT_EQ(qRed(p), 255);
                EXPECT_EQ(qGreen(p), 0);
                ++red;
            }
        }
    EXPECT_GT(red, 10);
}

TEST(Theme, ColoursAndOneLineFitting) {
    EXPECT_EQ(theme::white(0.15).alpha(), qRound(0.15 * 255));
    EXPECT_EQ(theme::rgb(1.0, 0.784, 0.239).name(), QColor(255, 200, 61).name());
    EXPECT_EQ(theme::withOpacity(theme::red(), 0.5).alpha(), 128);

    struct Case {
        QString text;
        qreal width;
        bool shrinks;
        bool elided;
    };
    const QFont base = theme::systemFont(20, QFont::DemiBold);
    for (const auto& c : {Case{"Cam", 200, false, false}, Case{"Studio camera", 140, true, false},
                          Case{"A much longer camera name than fits", 120, true, true}}) {
        SCOPED_TRACE(c.text.toStdString());
        const auto fitted = theme::fitOneLine(base, c.text, c.width, 0.6);
        EXPECT_GE(fitted.font.pixelSize(), qCeil(20 * 0.6));
        EXPECT_EQ(fitted.font.pixelSize() < 20, c.shrinks);
        EXPECT_EQ(fitted.text != c.text, c.elided);
        EXPECT_LE(QFontMetricsF(fitted.font).horizontalAdvance(fitted.text), c.width);
    }
}

}  // namespace
}  // namespace morvane
