#pragma once

// Line-by-line XML text with fixed indentation, as the timeline documents are written.

#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

namespace morvane::xml {

using Attribute = std::pair<std::string_view, std::string>;

/// Appends "<name a="v" …/>" or "<name a="v" …>" on a line of its own. Values are written as given: callers
/// escape text taken from data.
inline void start(std::string& out, int indent, std::string_view name, std::initializer_list<Attribute> attributes,
                  bool selfClosing) {
    out.append(static_cast<std::size_t>(indent), ' ');
    out += '<';
    out += name;
    for (const auto& [key, value] : attributes) {
        out += ' ';
        out += key;
        out += "=\"";
        out += value;
        out += '"';
    }
    out += selfClosing ? "/>\n" : ">\n";
}

inline void end(std::string& out, int indent, std::string_view name) {
    out.append(static_cast<std::size_t>(indent), ' ');
    out += "</";
    out += name;
    out += ">\n";
}

}  // namespace morvane::xml
