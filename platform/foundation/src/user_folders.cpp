#include "platform/user_folders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace morvane {

std::optional<std::filesystem::path> homeFolder() {
    if (const char* home = std::getenv("HOME"); home && home[0] == '/') return home;
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir &&
        found->pw_dir[0] == '/') {
        return found->pw_dir;
    }
    return std::nullopt;
}

std::optional<std::filesystem::path> userBaseFolder(const char* variable, const std::filesystem::path& underHome) {
    if (const char* value = std::getenv(variable); value && value[0] == '/') return value;
    if (auto home = homeFolder()) return *home / underHome;
    return std::nullopt;
}

namespace {

// The value of one line `KEY="value"` of the user folders file, with its shell quoting undone; none when the line
// is another key's or not of that form.
std::optional<std::string> userDirectoryValue(std::string_view line, std::string_view key) {
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    if (line.substr(0, key.size()) != key) return std::nullopt;
    line.remove_prefix(key.size());
    if (line.empty() || line.front() != '=') return std::nullopt;
    line.remove_prefix(1);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r')) line.remove_suffix(1);
    const bool quoted = line.size() >= 2 && line.front() == '"' && line.back() == '"';
    if (quoted) line = line.substr(1, line.size() - 2);
    std::string value;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\\' && i + 1 < line.size()) ++i;
        value.push_back(line[i]);
    }
    return value;
}

}  // namespace

std::optional<std::filesystem::path> userDirectory(std::string_view key, const std::filesystem::path& underHome) {
    const auto home = homeFolder();
    if (const auto config = userBaseFolder("XDG_CONFIG_HOME", ".config")) {
        std::ifstream file(*config / "user-dirs.dirs");
        std::optional<std::string> found;
        std::string line;
        // The file is a handful of short lines; a longer one is not of its kind.
        while (line.size() < 4096 && std::getline(file, line)) {
            if (line.empty() || line.front() == '#') continue;
            if (auto value = userDirectoryValue(line, key)) found = std::move(value);  // the last one counts
        }
        if (found) {
            std::string path = *found;
            if (path.starts_with("$HOME") && (path.size() == 5 || path[5] == '/')) {
                path = home ? home->string() + path.substr(5) : std::string();
            }
            while (path.size() > 1 && path.back() == '/') path.pop_back();
            if (!path.empty() && path.front() == '/') return std::filesystem::path(path).lexically_normal();
        }
    }
    if (home) return *home / underHome;
    return std::nullopt;
}

}  // namespace morvane
