#pragma once

#include "platform/base64.h"

#include <filesystem>
#include <mutex>
#include <optional>
#include <string>

namespace morvane {

/// Named secret items, one file each (mode 0600) in a private folder (mode 0700), written atomically.
///
/// A name is one plain file name: not empty, no "/", no control characters, not starting with ".".
/// Any other name is refused (reads give none, writes and removals false).
class Keychain {
public:
    /// `folder` is created when missing.
    explicit Keychain(std::filesystem::path folder);

    /// The folder of the application's own keychain: the application's data folder plus "keychain"
    /// ($XDG_DATA_HOME, or ~/.local/share, then "Brindlecroft/keychain").
    static std::filesystem::path defaultFolder();

    std::optional<Bytes> read(const std::string& name) const;
    /// Writes the whole item; false when it could not be stored.
    bool write(const std::string& name, const Bytes& value);
    /// True when the item is gone afterwards (also when there was none).
    bool remove(const std::string& name);

    const std::filesystem::path& folder() const { return folder_; }

private:
    std::filesystem::path pathFor(const std::string& name) const;

    std::filesystem::path folder_;
    mutable std::mutex mutex_;
};

}  // namespace morvane
