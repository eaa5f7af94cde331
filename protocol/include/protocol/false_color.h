#pragma once

#include <array>
#include <span>
#include <string>

namespace morvane {

/// The false-colour key of the monitoring aid.
struct FalseColor {
    /// One band: a closed interval of picture brightness (0 black to 1 white), its colour and its name.
    struct Band {
        float lower = 0;
        float upper = 0;
        std::array<float, 3> rgb{};  ///< red, green, blue, 0 to 1
        std::string name;

        bool contains(float brightness) const { return brightness >= lower && brightness <= upper; }

        friend bool operator==(const Band&, const Band&) = default;
    };

    /// The six bands, darkest first; the camera's false-colour picture and the remote's legend show the same
    /// table. Where two bands share a bound, the later one wins.
    static std::span<const Band> bands();
};

}  // namespace morvane
