#pragma once

#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "protocol/transfer_info.h"

namespace morvane {

/// The camera's record of the takes it saved: what was announced for each, how it was shot, where its file lies
/// and whether its deck copy has been made. Kept as one JSON array in `url`, rewritten whole after each change.
class TakeLog {
public:
    struct Entry {
        TransferInfo info;
        bool appleLog = false;
        std::optional<bool> appleLog2;
        std::optional<std::string> vaultFile;
        std::optional<std::string> photoAssetID;
        bool copied = false;
        /// A take kept on a drive: its movie there. Its journal stays until the take is queued, so a start that
        /// finds both knows the take is stored and only has to be queued.
        std::optional<std::string> driveFile;
        /// False: written before its capture was queued (one kept in the vault, which nothing else shows as queued),
        /// until the outbox lists it. Absent: queued, or written by an older camera program that queued first.
        std::optional<bool> queued;

        friend bool operator==(const Entry&, const Entry&) = default;
    };

    /// Loads the log from `url` when it exists.
    explicit TakeLog(std::filesystem::path url);

    const std::filesystem::path& url() const { return url_; }
    std::vector<Entry> entries() const;
    std::optional<Entry> entry(const Uuid& id) const;

    /// Appends the entry of a saved take and saves.
    void append(Entry entry);
    /// Marks the take's copy as made and saves; false when the log has no such take.
    bool markCopied(const Uuid& id);
    /// Marks the capture as queued and saves; false when the log has no such take.
    bool markQueued(const Uuid& id);

    /// "info", "appleLog" and "copied" always; the optional keys only when present.
    static Json encode(const Entry& entry);
    /// Needs "info", "appleLog" and "copied"; the optional keys may be missing or null, but a present value of
    /// another type fails the entry.
    static std::optional<Entry> decode(const Json& json);

private:
    void save();  // under lock_

    std::filesystem::path url_;
    mutable std::mutex lock_;
    std::vector<Entry> entries_;
};

}  // namespace morvane
