#pragma once

#include <cstddef>

namespace morvane::detail {

struct SymbolEntry {
    const char* name;
    char32_t codePoint;
};

extern const SymbolEntry symbolTable[];
extern const std::size_t symbolTableSize;

}  // namespace morvane::detail
