#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "remote/monitor_controller.h"

namespace morvane {

/// Announced transfers by identifier text, bounded: beyond the limit the oldest announcement is forgotten
/// (a camera announces a file again when it sends it again).
struct MonitorController::IncomingTable {
    struct Entry {
        IncomingFile file;
        std::uint64_t order = 0;
    };

    void store(const std::string& key, IncomingFile file, std::size_t limit) {
        if (auto found = entries.find(key); found != entries.end()) byOrder.erase(found->second.order);
        const auto order = next++;
        entries.insert_or_assign(key, Entry{std::move(file), order});
        byOrder.emplace(order, key);
        while (entries.size() > limit && !byOrder.empty()) {
            entries.erase(byOrder.begin()->second);
            byOrder.erase(byOrder.begin());
        }
    }

    std::optional<IncomingFile> take(const std::string& key) {
        auto found = entries.find(key);
        if (found == entries.end()) return std::nullopt;
        auto file = std::move(found->second.file);
        byOrder.erase(found->second.order);
        entries.erase(found);
        return file;
    }

    std::optional<IncomingFile> find(const std::string& key) const {
        auto found = entries.find(key);
        if (found == entries.end()) return std::nullopt;
        return found->second.file;
    }

    std::size_t size() const { return entries.size(); }

    std::map<std::string, Entry> entries;
    std::map<std::uint64_t, std::string> byOrder;
    std::uint64_t next = 0;
};

}  // namespace morvane
