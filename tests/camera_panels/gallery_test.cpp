// The gallery of a camera's captures: its texts, select mode and delete, the pager and its pages.

#include <gtest/gtest.h>

#include <QApplication>
#include <QBuffer>
#include <QImage>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <fstream>

#include "camera_panels/gallery_rules.h"
#include "camera_panels/gallery_thumbnail.h"
#include "camera_panels/gallery_view.h"
#include "temp_dir.h"

namespace morvane {
namespace {

Bytes jpeg(QColor colour, int w = 160, int h = 90) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG");
    return Bytes(data.begin(), data.end());
}

std::vector<GalleryItem> captures(int n) {
    std::vector<GalleryItem> items;
    const QColor colours[] = {Qt::red, Qt::darkCyan, Qt::darkYellow, Qt::blue, Qt::darkMagenta, Qt::gray};
    for (int i = 0; i < n; ++i) {
        GalleryItem item;
        item.date = Date{800'000'000.0 + i * 3600};
        item.isVideo = i % 3 == 1;
        if (item.isVideo) item.duration = 65 + i;
        if (i % 4 == 3) item.vaultFile = "v" + std::to_string(i) + ".heic";
        item.thumbnail = jpeg(colours[i % 6]);
        items.push_back(item);
    }
    return items;
}

void saveShot(QWidget& widget, const char* name) {
    if (const char* folder = std::getenv("MORVANE_SCREENSHOT_DIR")) {
        widget.grab().save(QString::fromUtf8(folder) + "/" + name + ".png");
    }
}

TEST(GalleryTexts, Table) {
    struct Duration {
        std::optional<double> seconds;
        const char* text;
    } durations[] = {{std::nullopt, "0:00"}, {59.5, "1:00"}, {3700, "61:40"}, {65, "1:05"},
                     {0.4, "0:00"},          {NAN, "—"},     {1e300, "—"}};
    for (const auto& d : durations) EXPECT_EQ(gallery::durationText(d.seconds), QString::fromUtf8(d.text));
    EXPECT_EQ(gallery::deleteTitle(1), "Delete this capture?");
    EXPECT_EQ(gallery::deleteTitle(2), "Delete 2 captures?");
    EXPECT_EQ(gallery::deleteButtonText(3), "Delete 3");
    EXPECT_TRUE(gallery::deleteMessage(false).startsWith("They’re removed from the camera."));
    EXPECT_TRUE(gallery::deleteMessage(true).startsWith("They’re removed from this computer"));
    EXPECT_TRUE(gallery::pageDeleteMessage(true).startsWith("It’s only in the vault"));
    EXPECT_EQ(gallery::videoCaption(65), "Video · 1:05 · full video is on the camera");
    EXPECT_EQ(gallery::videoCaption(std::nullopt), "Video · 0:00 · full video is on the camera");
    auto items = captures(3);
    EXPECT_TRUE(gallery::accessibilityLabel(items[0]).startsWith("Photo, "));
    EXPECT_TRUE(gallery::accessibilityLabel(items[1]).startsWith("Video, "));
    const std::set<Uuid> picked{items[2].id, items[0].id, Uuid()};
    const auto chosen = gallery::pickedItems(items, picked);
    ASSERT_EQ(chosen.size(), 2u);
    EXPECT_EQ(chosen[0].id, items[0].id);  // in the list's order
}

struct GalleryFixture : ::testing::Test {
    std::vector<std::vector<GalleryItem>> deleted;
    std::vector<std::pair<Uuid, std::function<void(const QImage&)>>> requests;
    GalleryPreviewLoader loader = [this](const Uuid& id, std::function<void(const QImage&)> done) {
        requests.emplace_back(id, std::move(done));
    };
};

TEST(GalleryThumbnailLook, TheRunningTimeReadsOnABrightThumbnail) {
    GalleryItem item;
    item.isVideo = true;
    item.duration = 65;
    item.thumbnail = jpeg(Qt::white);
    GalleryThumbnail thumbnail(item);
    thumbnail.resize(120, 120);
    saveShot(thumbnail, "thumbnail-bright");
    const QImage shot = thumbnail.grab().toImage();
    // The badge's inner part, beside its trailing edge: mostly a dark backing, under white figures.
    const QRect inner(120 - 34, 120 - 16, 26, 8);
    int dark = 0;
    for (int y = inner.top(); y <= inner.bottom(); ++y)
        for (int x = inner.left(); x <= inner.right(); ++x) dark += shot.pixelColor(x, y).lightness() < 100;
    EXPECT_GT(dark, inner.width() * inner.height() / 3);
}

TEST_F(GalleryFixture, SelectModeDeletesTheChosenCaptures) {
    auto items = captures(6);
    GalleryView view(items, loader, std::nullopt, [this](const auto& chosen) { deleted.push_back(chosen); });
    view.resize(520, 600);
    view.show();
    EXPECT_FALSE(view.moveButton()->isVisible());
    ASSERT_TRUE(view.selectButton()->isVisible());
    QTest::mouseClick(view.selectButton(), Qt::LeftButton);
    EXPECT_TRUE(view.selecting());
    EXPECT_FALSE(view.deleteButton()->isEnabled());
    QTest::mouseClick(view.cells()[1], Qt::LeftButton);
    QTest::mouseClick(view.cells()[4], Qt::LeftButton);
    EXPECT_EQ(view.deleteButton()->text(), "Delete 2");
    saveShot(view, "gallery-select");
    QString asked;
    view.confirm = [&](const QString& title, const QString&) {
        asked = title;
        return true;
    };
    // A capture removed from the list while chosen no longer counts and is not deleted.
    auto shorter = items;
    shorter.erase(shorter.begin() + 4);
    view.setItems(shorter);
    EXPECT_TRUE(view.selecting());
    EXPECT_EQ(view.deleteButton()->text(), "Delete 1");
    QTest::mouseClick(view.deleteButton(), Qt::LeftButton);
    EXPECT_EQ(asked, "Delete this capture?");
    ASSERT_EQ(deleted.size(), 1u);
    ASSERT_EQ(deleted[0].size(), 1u);
    EXPECT_EQ(deleted[0][0].id, items[1].id);
    EXPECT_FALSE(view.selecting());
    EXPECT_TRUE(view.picked().empty());
}

TEST_F(GalleryFixture, WithoutDeleteThereIsNoSelectMode) {
    GalleryView empty({}, loader, std::nullopt, [](const auto&) {});
    empty.resize(520, 600);
    empty.show();
    EXPECT_FALSE(empty.selectButton()->isVisible());
    EXPECT_TRUE(empty.doneButton()->isVisible());
    saveShot(empty, "gallery-empty");
    GalleryView view(captures(3), loader, std::nullopt, nullptr);
    view.show();
    EXPECT_FALSE(view.selectButton()->isVisible());
    int dismissed = 0;
    QObject::connect(&view, &GalleryView::dismissRequested, [&] { ++dismissed; });
    QTest::mouseClick(view.doneButton(), Qt::LeftButton);
    EXPECT_EQ(dismissed, 1);
}

TEST_F(GalleryFixture, ThePagerOpensOnTheCaptureAndItsTitleFollows) {
    auto items = captures(5);
    GalleryView view(items, loader, std::nullopt, [this](const auto& chosen) { deleted.push_back(chosen); });
    view.resize(520, 600);
    view.show();
    saveShot(view, "gallery-grid");
    QTest::mouseClick(view.cells()[2], Qt::LeftButton);
    ASSERT_TRUE(view.pager());
    EXPECT_EQ(view.selection(), items[2].id);
    const QString third = view.pager()->title();
    EXPECT_EQ(third, gallery::pagerTitle(items[2].date));
    view.pager()->step(1);
    EXPECT_EQ(view.selection(), items[3].id);
    EXPECT_NE(view.pager()->title(), third);
    EXPECT_FALSE(view.pager()->moveButton()->isVisible());  // nothing stored here
    EXPECT_TRUE(view.pager()->deleteButton()->isVisible());
    // A confirmed delete sends the one capture and closes the gallery's pager.
    int dismissed = 0;
    QObject::connect(&view, &GalleryView::dismissRequested, [&] { ++dismissed; });
    view.pager()->confirm = [](const QString&, const QString&) { return true; };
    view.pager()->deleteCurrent();
    ASSERT_EQ(deleted.size(), 1u);
    EXPECT_EQ(deleted[0].size(), 1u);
    EXPECT_EQ(dismissed, 1);
}

TEST_F(GalleryFixture, APageSpinsThenShowsThePreviewAndRetriesAfterAFailure) {
    auto items = captures(3);
    GalleryView view(items, loader, std::nullopt, nullptr);
    view.resize(520, 600);
    view.show();
    view.openCapture(items[1].id);  // a video
    GalleryPage* page = view.pager()->currentPage();
    ASSERT_TRUE(page);
    EXPECT_TRUE(page->spinnerVisible());
    ASSERT_EQ(requests.size(), 1u);
    saveShot(view, "gallery-page-loading");
    requests[0].second(QImage());  // the camera did not answer
    EXPECT_TRUE(page->failed());
    EXPECT_FALSE(page->spinnerVisible());
    view.pager()->step(1);
    view.pager()->step(-1);  // back again: asked again
    ASSERT_EQ(requests.size(), 3u);
    QImage preview(640, 360, QImage::Format_RGB32);
    preview.fill(QColor(30, 120, 200));
    requests[2].second(preview);
    EXPECT_TRUE(page->hasPreview());
    saveShot(view, "gallery-page");
    view.pager()->step(1);
    view.pager()->step(-1);
    EXPECT_EQ(requests.size(), 4u);  // the next page asked once more; this one keeps its preview
    // An answer for a page that is gone is dropped safely.
    auto late = requests[3].second;
    view.closePager();
    late(preview);
}

TEST(GalleryFolderMove, OnlyFilesThatMovedAreReported) {
    test::TempDir dir;
    std::ofstream(dir / "a.mov") << "a";
    std::ofstream(dir / "b.mov") << "b";
    std::filesystem::create_directory(dir / "dest");
    std::ofstream(dir / "dest" / "a.mov") << "taken";
    const auto moved = moveFilesToFolder({dir / "a.mov", dir / "missing.mov", dir / "b.mov"}, dir / "dest");
    ASSERT_EQ(moved.size(), 2u);
    EXPECT_EQ(moved[0].filename(), "a 2.mov");
    EXPECT_TRUE(std::filesystem::exists(dir / "dest" / "a.mov"));
    EXPECT_FALSE(std::filesystem::exists(dir / "a.mov"));
}

}  // namespace
}  // namespace morvane
