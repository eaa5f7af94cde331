#include "remote/scope_image.h"

#include <array>

#include "protocol/live_packets.h"

namespace morvane {

namespace {

struct Tint {
    int red, green, blue;
};

constexpr Tint waveformTint{200, 255, 210};
constexpr std::array<Tint, 3> paradeTints{{{255, 70, 70}, {70, 255, 90}, {90, 140, 255}}};

}  // namespace

std::optional<ScopeImage> ScopeImage::decode(ByteView packet) {
    if (packet.empty()) return std::nullopt;
    auto scope = ScopePacket::decodePayload(packet.subspan(1));
    if (!scope) return std::nullopt;
    const int width = scope->width;
    const int height = scope->height;
    if (width == 0 || height == 0 || scope->intensities.size() != static_cast<std::size_t>(width) * height)
        return std::nullopt;

    const bool parade = scope->kind == ScopeKind::parade;
    if (!parade && scope->kind != ScopeKind::waveform) return std::nullopt;
    const int panels = parade ? 3 : 1;
    const int step = parade ? width + 2 : width;
    const int rows = height / panels;
    const int bitmapWidth = parade ? 3 * width + 4 : width;
    if (rows == 0) return std::nullopt;

    QImage image(bitmapWidth, rows, QImage::Format_RGBA8888_Premultiplied);
    if (image.isNull()) return std::nullopt;
    image.fill(Qt::transparent);
    const auto& v = scope->intensities;
    for (int k = 0; k < panels; ++k) {
        const Tint tint = parade ? paradeTints[static_cast<std::size_t>(k)] : waveformTint;
        for (int y = 0; y < rows; ++y) {
            uchar* line = image.scanLine(y);
            for (int x = 0; x < width; ++x) {
                const int value = v[static_cast<std::size_t>(k * rows * width + y * width + x)];
                uchar* pixel = line + 4 * (k * step + x);
                pixel[0] = static_cast<uchar>(value * tint.red / 255);
                pixel[1] = static_cast<uchar>(value * tint.green / 255);
                pixel[2] = static_cast<uchar>(value * tint.blue / 255);
                pixel[3] = static_cast<uchar>(value);
            }
        }
    }
    return ScopeImage{scope->kind, std::move(image)};
}

}  // namespace morvane
