#include "platform/defaults.h"

#include "platform/atomic_file.h"
#include "platform/log.h"
#include "platform/user_folders.h"

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <sstream>

namespace morvane {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view component = "Defaults";

// Keeps an unreadable file for inspection instead of overwriting it with the next save.
void moveAside(const fs::path& file) {
    const auto stamp =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
    for (int attempt = 0; attempt < 100; ++attempt) {
        fs::path aside = file;
        aside += ".corrupt-" + std::to_string(stamp) + (attempt ? "-" + std::to_string(attempt) : "");
        std::error_code ec;
        if (fs::exists(aside, ec)) continue;
        fs::rename(file, aside, ec);
        if (!ec) {
            log::error(component, "unreadable settings file moved to " + aside.string());
        } else {
            log::error(component, "unreadable settings file could not be moved aside: " + ec.message());
        }
        return;
    }
}

bool isFinite(const nlohmann::json& value) {
    if (value.is_number_float()) return std::isfinite(value.get<double>());
    if (value.is_array() || value.is_object()) {
        for (const auto& element : value) {
            if (!isFinite(element)) return false;
        }
    }
    return true;
}

}  // namespace

Defaults::Defaults(fs::path file) : file_(std::move(file)) {
    // A save cut short by the end of the process leaves its temporary file; nobody else will remove it.
    removeInterruptedWrites(file_);
    std::error_code ec;
    const auto status = fs::status(file_, ec);
    if (!fs::exists(status)) return;  // nothing stored yet
    if (!fs::is_regular_file(status)) {
        log::error(component, "settings path is not a file: " + file_.string());
        return;
    }
    std::ifstream in(file_, std::ios::binary);
    if (!in) {
        log::error(component, "settings file cannot be read: " + file_.string());
        return;
    }
    std::stringstream text;
    text << in.rdbuf();
    in.close();
    if (text.str().empty()) return;
    auto parsed = nlohmann::json::parse(text.str(), nullptr, /*allow_exceptions=*/false);
    if (parsed.is_object()) {
        values_ = std::move(parsed);
    } else {
        moveAside(file_);
    }
}

Defaults& Defaults::standard() {
    static Defaults store([] {
        return userBaseFolder("XDG_CONFIG_HOME", ".config").value_or(".config") / "Brindlecroft" / "defaults.json";
    }());
    return store;
}

bool Defaults::boolValue(const std::string& key, bool fallback) const {
    std::lock_guard lock(mutex_);
    auto it = values_.find(key);
    return it != values_.end() && it->is_boolean() ? it->get<bool>() : fallback;
}

double Defaults::doubleValue(const std::string& key, double fallback) const {
    std::lock_guard lock(mutex_);
    auto it = values_.find(key);
    return it != values_.end() && it->is_number() ? it->get<double>() : fallback;
}

long long Defaults::integerValue(const std::string& key, long long fallback) const {
    std::lock_guard lock(mutex_);
    auto it = values_.find(key);
    if (it == values_.end()) return fallback;
    if (it->is_number_unsigned()) {
        const auto u = it->get<std::uint64_t>();
        return u <= static_cast<std::uint64_t>(std::numeric_limits<long long>::max()) ? static_cast<long long>(u)
                                                                                      : fallback;
    }
    if (it->is_number_integer()) return it->get<long long>();
    if (it->is_number_float()) {
        // A whole number written as a double reads as an integer; a fraction is another type.
        const double d = it->get<double>();
        constexpr double limit = 9223372036854775808.0;  // 2^63
        if (std::isfinite(d) && d == std::trunc(d) && d >= -limit && d < limit) return static_cast<long long>(d);
    }
    return fallback;
}

std::string Defaults::stringValue(const std::string& key, const std::string& fallback) const {
    std::lock_guard lock(mutex_);
    auto it = values_.find(key);
    return it != values_.end() && it->is_string() ? it->get<std::string>() : fallback;
}

std::vector<std::string> Defaults::stringList(const std::string& key, const std::vector<std::string>& fallback) const {
    std::lock_guard lock(mutex_);
    auto it = values_.find(key);
    if (it == values_.end() || !it->is_array()) return fallback;
    std::vector<std::string> out;
    out.reserve(it->size());
    for (const auto& element : *it) {
        if (!element.is_string()) return fallback;
        out.push_back(element.get<std::string>());
    }
    return out;
}

std::optional<nlohmann::json> Defaults::value(const std::string& key) const {
    std::lock_guard lock(mutex_);
    auto it = values_.find(key);
    if (it == values_.end()) return std::nullopt;
    return *it;
}

bool Defaults::contains(const std::string& key) const {
    std::lock_guard lock(mutex_);
    return values_.contains(key);
}

void Defaults::set(const std::string& key, bool value) {
    setValue(key, nlohmann::json(value));
}

void Defaults::set(const std::string& key, double value) {
    setValue(key, nlohmann::json(value));
}

void Defaults::set(const std::string& key, long long value) {
    setValue(key, nlohmann::json(value));
}

void Defaults::set(const std::string& key, const std::string& value) {
    setValue(key, nlohmann::json(value));
}

void Defaults::set(const std::string& key, const std::vector<std::string>& value) {
    setValue(key, nlohmann::json(value));
}

void Defaults::setValue(const std::string& key, const nlohmann::json& value) {
    // JSON has no infinity or NaN; writing one would store null in its place.
    if (!isFinite(value)) {
        log::error(component, "not stored (not a finite number): " + key);
        return;
    }
    // Text that is not UTF-8 cannot be written as JSON; refuse it here rather than fail every later save.
    try {
        (void)nlohmann::json(key).dump();
        (void)value.dump();
    } catch (const nlohmann::json::exception&) {
        log::error(component, "not stored (text is not UTF-8)");
        return;
    }
    std::lock_guard lock(mutex_);
    if (value.is_null()) {
        values_.erase(key);
    } else {
        values_[key] = value;
    }
    save();
}

void Defaults::remove(const std::string& key) {
    std::lock_guard lock(mutex_);
    if (values_.erase(key) > 0) save();
}

void Defaults::save() {
    std::string text = values_.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
    text.push_back('\n');

    std::error_code ec;
    if (!file_.parent_path().empty()) fs::create_directories(file_.parent_path(), ec);
    // Written beside the file and renamed over it, so a crash leaves the old or the new settings.
    if (!writeFileAtomically(file_, text, {.permissions = fs::perms::owner_read | fs::perms::owner_write})) {
        log::error(component, "settings not saved to " + file_.string());
    }
}

}  // namespace morvane
