#pragma once

// Line-by-line XML text with fixed indentation, as the timeline documents are written.

#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace morvane::xml {

using Attribute = std::pair<std::string_view, std::string>;

/// Appends "<name a="v" …/>" or "<name a="v" …>" on a line of its own. Values are written as given: callers
/// escape text taken from data.
template <class Attributes>
void startWith(std::string& out, int indent, std::string_view name, const Attributes& attributes, bool selfClosing) {
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

inline void start(std::string& out, int indent, std::string_view name, std::initializer_list<Attribute> attributes,
                  bool selfClosing) {
    startWith(out, indent, name, attributes, selfClosing);
}

inline void start(std::string& out, int indent, std::string_view name, const std::vector<Attribute>& attributes,
                  bool selfClosing) {
    startWith(out, indent, name, attributes, selfClosing);
}

inline void end(std::string& out, int indent, std::string_view name) {
    out.append(static_cast<std::size_t>(indent), ' ');
    out += "</";
    out += name;
    out += ">\n";
}

}  // namespace morvane::xml
