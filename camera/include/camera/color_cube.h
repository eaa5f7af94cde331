#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace morvane {

/// A 3D colour lookup table: `dimension`³ entries of red, green, blue, alpha (0…1), red varying fastest, then
/// green, then blue; the input colour of entry (r, g, b) is (r, g, b) ÷ (dimension − 1). Looked up with
/// trilinear interpolation between the eight entries around a colour.
struct ColorCube {
    int dimension = 0;
    std::vector<float> rgba;  ///< dimension³ × 4 values

    std::size_t index(int r, int g, int b) const {
        return (static_cast<std::size_t>(r) + static_cast<std::size_t>(dimension) * g +
                static_cast<std::size_t>(dimension) * dimension * b) * 4;
    }
    /// The entry's red, green and blue.
    std::array<float, 3> entry(int r, int g, int b) const;
    /// The colour for an input colour (components clamped to 0…1).
    std::array<float, 3> lookup(float r, float g, float b) const;
};

/// The cubes of the monitoring aids and LUTs, each built once per process on first use (several threads may ask
/// at once) and shared.
namespace cubes {
/// 64-entry cube: each colour becomes the colour of the last false-colour band holding its luma, or grey at
/// 0.85 × luma.
std::shared_ptr<const ColorCube> falseColor();
/// 64-entry cube: clipped highlights (largest component ≥ 0.985) red, crushed shadows (≤ 0.015) blue.
std::shared_ptr<const ColorCube> clipping();
/// 64-entry cubes turning the camera's log pictures into a Rec.709 picture for monitoring.
std::shared_ptr<const ColorCube> logToRec709();
std::shared_ptr<const ColorCube> log2ToRec709();
}  // namespace cubes

/// A cube from a custom LUT as the remote sends it: `size` (2…64) and size³ red-green-blue triples (red fastest).
/// None unless the size is in range, the count is exact and every value is finite.
std::optional<ColorCube> makeCustomCube(int size, const std::vector<float>& rgb);
/// The same from the command's little-endian 32-bit float bytes.
std::optional<ColorCube> makeCustomCube(int size, const std::vector<std::uint8_t>& littleEndianFloats);

}  // namespace morvane
