#pragma once

#include <nlohmann/json.hpp>

#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace morvane {

/// The user defaults: a typed key-value store kept as one JSON file, rewritten whole and atomically.
///
/// Reading an absent key, or a key holding a value of another type, gives the caller's default: a
/// whole number reads as a double, a double reads as an integer only when it has no fraction, a bool
/// is never a number, and a list reads as strings only when every element is one. Safe to use from
/// any thread.
class Defaults {
public:
    /// Reads `file` when it exists. A file that is not a JSON object is moved aside (renamed with a
    /// ".corrupt-<time>" suffix) and the store starts empty.
    explicit Defaults(std::filesystem::path file);

    /// The application's store: its config folder plus "defaults.json"
    /// ($XDG_CONFIG_HOME, or ~/.config, then "Brindlecroft/defaults.json").
    static Defaults& standard();

    bool boolValue(const std::string& key, bool fallback) const;
    double doubleValue(const std::string& key, double fallback) const;
    long long integerValue(const std::string& key, long long fallback) const;
    std::string stringValue(const std::string& key, const std::string& fallback) const;
    std::vector<std::string> stringList(const std::string& key, const std::vector<std::string>& fallback) const;
    std::optional<nlohmann::json> value(const std::string& key) const;
    bool contains(const std::string& key) const;

    void set(const std::string& key, bool value);
    void set(const std::string& key, double value);
    void set(const std::string& key, long long value);
    void set(const std::string& key, int value) { set(key, static_cast<long long>(value)); }
    void set(const std::string& key, long value) { set(key, static_cast<long long>(value)); }  // std::int64_t
    void set(const std::string& key, const std::string& value);
    void set(const std::string& key, const char* value) { set(key, std::string(value)); }
    void set(const std::string& key, const std::vector<std::string>& value);
    /// Every change rewrites the whole file. A null value removes the key; a value holding a
    /// non-finite number or text that is not UTF-8 is not stored (JSON cannot hold it).
    void setValue(const std::string& key, const nlohmann::json& value);
    void remove(const std::string& key);

    const std::filesystem::path& file() const { return file_; }

private:
    void save();  // under mutex_

    std::filesystem::path file_;
    mutable std::mutex mutex_;
    nlohmann::json values_ = nlohmann::json::object();
};

}  // namespace morvane
