#pragma once

// Pictures like a real camera's, for benchmarks: the synthetic bars and moving square, with fine detail panning
// across them and fresh sensor noise in every picture. An encoder spends its whole target rate on these, as it does
// on a crew's cameras; on the plain bars it idles at a few hundred kilobits a second and every cost downstream
// (packet sizes, decode time, the link) looks smaller than it is.

#include <algorithm>
#include <cstdint>
#include <vector>

#include "platform/synthetic_source.h"

namespace morvane::test {

/// `count` NV12 pictures of `width` × `height` (positive and even). Picture `i` pans the detail by 3 pixels a
/// picture and has its own noise (luma ±7, chroma ±3, triangular), so no two pictures are alike.
inline std::vector<SharedFrame> cameraLikePictures(int width, int height, int count, std::uint32_t seed = 1) {
    std::uint32_t state = seed * 2654435761u + 1;
    auto next = [&state] {  // xorshift32: fast, and the same pictures on every run
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    };
    // A fixed texture of fine detail (leaves, fabric, brickwork), wider than the picture so that it can pan.
    const int pan = 3;
    const int textureWidth = width + pan * count;
    std::vector<std::int8_t> texture(static_cast<std::size_t>(textureWidth) * height);
    for (auto& t : texture) t = static_cast<std::int8_t>(static_cast<int>(next() % 41) - 20);
    std::vector<SharedFrame> pictures;
    SyntheticSource::Settings settings{.width = width, .height = height};
    for (int i = 0; i < count; ++i) {
        SharedFrame frame = SyntheticSource::makePicture(settings, i * 4);
        if (!frame) return {};
        const int shift = pan * (count - 1 - i);
        for (int y = 0; y < height; ++y) {
            std::uint8_t* luma = frame->data[0] + static_cast<std::ptrdiff_t>(y) * frame->linesize[0];
            const std::int8_t* detail = texture.data() + static_cast<std::size_t>(y) * textureWidth + shift;
            for (int x = 0; x < width; ++x) {
                const int noise = static_cast<int>(next() % 8) + static_cast<int>(next() % 8) - 7;
                luma[x] = static_cast<std::uint8_t>(std::clamp(luma[x] + detail[x] + noise, 16, 235));
            }
        }
        for (int y = 0; y < height / 2; ++y) {
            std::uint8_t* chroma = frame->data[1] + static_cast<std::ptrdiff_t>(y) * frame->linesize[1];
            for (int x = 0; x < width; ++x) {
                const int noise = static_cast<int>(next() % 4) + static_cast<int>(next() % 4) - 3;
                chroma[x] = static_cast<std::uint8_t>(std::clamp(chroma[x] + noise, 16, 240));
            }
        }
        pictures.push_back(frame);
    }
    return pictures;
}

}  // namespace morvane::test
