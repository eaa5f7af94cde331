#include "protocol/false_color.h"

namespace morvane {

std::span<const FalseColor::Band> FalseColor::bands() {
    static const std::array<Band, 6> table{{
        {0.0f, 0.015f, {0.55f, 0.15f, 0.85f}, "Crushed"},
        {0.015f, 0.06f, {0.1f, 0.35f, 1.0f}, "Black"},
        {0.38f, 0.48f, {0.2f, 0.8f, 0.25f}, "Mid grey"},
        {0.58f, 0.68f, {1.0f, 0.45f, 0.7f}, "Skin"},
        {0.93f, 0.985f, {1.0f, 0.9f, 0.1f}, "Near white"},
        {0.985f, 1.0f, {1.0f, 0.1f, 0.1f}, "Clipped"},
    }};
    return table;
}

}  // namespace morvane
