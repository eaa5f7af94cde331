#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>

namespace morvane {

/// What the remote's message band says, one notice at a time. A passing notice (a capture saved, a marker set)
/// shows for its time and gives way at once to a newer one. A notice that matters (a camera lost, a capture not
/// filed, a pairing that failed) shows its full time and is never replaced: whatever comes meanwhile waits its turn,
/// and a newer passing notice takes the place of an older one still waiting. A notice posted again under its key
/// (the cameras lost lately, named together) changes in place. It keeps no clock: it answers which notice starts
/// showing and for how long, and the owner tells it when that time is up.
class NoticeBoard {
public:
    struct Notice {
        std::string text;
        double seconds = 2.5;
        bool matters = false;
        std::string key;  ///< non-empty: replaces the waiting or shown notice of the same key
    };

    /// A notice that has just started showing (or started again): call `expire` with `id` after `seconds`.
    struct Showing {
        std::uint64_t id = 0;
        double seconds = 0;
        friend bool operator==(const Showing&, const Showing&) = default;
    };

    /// Most notices waiting at once; past that the oldest waiting one is dropped.
    static constexpr std::size_t capacity = 32;

    std::optional<Showing> post(Notice notice);
    /// The time of the showing `id` is up; a later showing of the same notice keeps it.
    std::optional<Showing> expire(std::uint64_t id);
    /// The text shown now.
    std::optional<std::string> text() const;
    /// True while a notice of that key is shown or waiting.
    bool holds(const std::string& key) const;

private:
    struct Entry {
        Notice notice;
        std::uint64_t id = 0;  // of its showing; 0 while waiting
    };
    std::optional<Showing> start();

    std::deque<Entry> entries_;  // the first is shown
    std::uint64_t nextID_ = 1;
};

}  // namespace morvane
