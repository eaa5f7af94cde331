#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace morvane {

/// A 128-bit identifier, written as upper-case text ("E621E1F8-C36C-495A-93FC-0C247A3E6E5F").
class Uuid {
public:
    /// A fresh random (version 4) identifier.
    Uuid();
    explicit Uuid(const std::array<std::uint8_t, 16>& bytes) : bytes_(bytes) {}

    /// Parses the 8-4-4-4-12 hex form, either case; anything else is none.
    static std::optional<Uuid> parse(std::string_view text);

    std::string uuidString() const;
    const std::array<std::uint8_t, 16>& bytes() const { return bytes_; }

    friend bool operator==(const Uuid&, const Uuid&) = default;
    friend auto operator<=>(const Uuid&, const Uuid&) = default;

private:
    std::array<std::uint8_t, 16> bytes_{};
};

}  // namespace morvane

template <>
struct std::hash<morvane::Uuid> {
    std::size_t operator()(const morvane::Uuid& u) const noexcept {
        std::size_t h = 0;
        for (auto b : u.bytes()) h = h * 131 + b;
        return h;
    }
};
