#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>

#include <random>

#include "remote/camera_image.h"

namespace morvane {
namespace {

Bytes encoded(const QImage& image, const char* format) {
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return Bytes(data.begin(), data.end());
}

QImage sample(int w, int h) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(QColor(200, 40, 40));
    return image;
}

// Points the first start-of-frame marker of a JPEG at another picture size.
void setJpegSize(Bytes& jpeg, int width, int height) {
    for (std::size_t i = 2; i + 8 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xFF && (jpeg[i + 1] == 0xC0 || jpeg[i + 1] == 0xC2)) {
            jpeg[i + 5] = static_cast<std::uint8_t>(height >> 8);
            jpeg[i + 6] = static_cast<std::uint8_t>(height);
            jpeg[i + 7] = static_cast<std::uint8_t>(width >> 8);
            jpeg[i + 8] = static_cast<std::uint8_t>(width);
            return;
        }
    }
    FAIL() << "no start-of-frame marker";
}

TEST(CameraImage, DecodesOrdinaryPictures) {
    auto jpeg = decodeCameraImage(encoded(sample(64, 48), "JPEG"));
    EXPECT_EQ(jpeg.size(), QSize(64, 48));
    auto png = decodeCameraImage(encoded(sample(5, 7), "PNG"));
    EXPECT_EQ(png.size(), QSize(5, 7));
}

TEST(CameraImage, RefusesPicturesBeyondTheLimits) {
    auto jpeg = encoded(sample(64, 48), "JPEG");
    setJpegSize(jpeg, 60000, 60000);
    EXPECT_TRUE(decodeCameraImage(jpeg).isNull());

    CameraImageLimits small;
    small.maxSide = 32;
    EXPECT_TRUE(decodeCameraImage(encoded(sample(64, 48), "JPEG"), small).isNull());
    small = {};
    small.maxBytes = 10;
    EXPECT_TRUE(decodeCameraImage(encoded(sample(64, 48), "JPEG"), small).isNull());
}

TEST(CameraImage, BrokenDataGivesNullImage) {
    EXPECT_TRUE(decodeCameraImage(Bytes{}).isNull());
    EXPECT_TRUE(decodeCameraImage(Bytes{1, 2, 3, 4}).isNull());
    auto jpeg = encoded(sample(64, 48), "JPEG");
    std::mt19937 random(3);
    for (int round = 0; round < 200; ++round) {
        Bytes damaged(jpeg.begin(), jpeg.begin() + static_cast<long>(random() % jpeg.size()));
        for (int flips = 0; flips < 4 && !damaged.empty(); ++flips)
            damaged[random() % damaged.size()] = static_cast<std::uint8_t>(random());
        QImage image = decodeCameraImage(damaged);
        if (!image.isNull()) {
            EXPECT_LE(image.width(), 8192);
        }
    }
}

}  // namespace
}  // namespace morvane
