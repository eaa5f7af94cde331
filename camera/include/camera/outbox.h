#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/dispatch_queue.h"
#include "protocol/transfer_info.h"

namespace morvane {

class Defaults;

/// The captures a camera still has to hand to a receiver, kept in "outbox.json" in the outbox's own folder and
/// rewritten whole after every change.
class Outbox {
public:
    struct Item {
        enum class Location { outbox, vault };

        TransferInfo info;
        Location location = Location::outbox;
        std::string fileName;  ///< the file's name inside the folder `location` names

        friend bool operator==(const Item&, const Item&) = default;
    };

    /// Loads "outbox.json" from `directory` (made when missing), and removes what writes and copies cut short by the
    /// end of an earlier run left there. Count reports run on `main`.
    Outbox(std::filesystem::path directory, std::shared_ptr<Executor> main);

    /// What the owner's records tell of a capture file that no entry names.
    struct Unlisted {
        enum class Kind {
            unknown,  ///< left alone
            waiting,  ///< placed, not yet listed: it is listed with `info`
            sent,     ///< its bytes are at the receiver: it goes
        };
        Kind kind = Kind::unknown;
        TransferInfo info;
    };
    /// For the start: settles each capture file of the folder that no entry names (the camera ended between placing
    /// it and listing it, or between sending it and removing it), as `describe` says. Hidden files are no captures.
    void settleUnlisted(const std::function<Unlisted(const std::string& fileName)>& describe);

    const std::filesystem::path& directory() const { return directory_; }
    std::filesystem::path listFile() const { return directory_ / "outbox.json"; }

    /// Told the number of entries after each change, on the main queue, in the order of the changes.
    void setOnCountChanged(std::function<void(int)> callback);

    /// Appends an entry and rewrites the file; a failed write is dropped (the entry stays in memory). Any thread.
    void add(Item item);
    /// Removes the entry of that capture and rewrites the file; false when there is none. Any thread.
    bool remove(const Uuid& id);

    std::vector<Item> items() const;
    std::optional<Item> item(const Uuid& id) const;

    static Json encode(const Item& item);
    static std::optional<Item> decode(const Json& json);

private:
    void saveAndReport(const std::vector<Item>& list);

    std::filesystem::path directory_;
    std::shared_ptr<Executor> main_;
    // Changes are serialised from the copy of the list to the write and the queued report, so the file always
    // ends up with the latest list and reports arrive in order; `lock_` alone guards `items_`.
    std::mutex writeLock_;
    mutable std::mutex lock_;
    std::vector<Item> items_;
    struct Reporter {
        std::mutex lock;
        std::function<void(int)> callback;
    };
    std::shared_ptr<Reporter> reporter_;  // shared with queued reports, which may run after the outbox is gone
};

/// The file name of a capture: "yyyy-MM-dd HH.mm.ss <device name>.<ext>" in the machine's time zone, 24-hour
/// clock. "/" and ":" in the device name become "-", as do control characters (so the name is always a valid
/// file name); the name part is shortened so the whole stays within 255 bytes.
std::string takeFileName(Date date, const std::string& deviceName, const std::string& extension);

/// Whether captures go to the desktop: the defaults key "sendToMac", true when absent or not a bool.
bool sendsToMac(const Defaults& defaults);

/// A name no file in `vaultFolder` has yet: `name` itself, else "<base> 2.<ext>", "<base> 3.<ext>", …
std::string uniqueVaultName(const std::filesystem::path& vaultFolder, const std::string& name);

}  // namespace morvane
