#pragma once

#include <variant>

namespace morvane {

/// Case tests for a tagged union kept as `std::variant` in a member named `value`:
/// `setting.is<WhiteBalance::Auto>()`, `setting.as<WhiteBalance::Manual>()`.
template <class Union>
struct TaggedUnionAccess {
    template <class C>
    bool is() const {
        return std::holds_alternative<C>(static_cast<const Union&>(*this).value);
    }
    template <class C>
    const C* as() const {
        return std::get_if<C>(&static_cast<const Union&>(*this).value);
    }
    friend bool operator==(const TaggedUnionAccess&, const TaggedUnionAccess&) = default;
};

}  // namespace morvane
