#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/date.h"

namespace morvane {

/// A take's files in its recording folder: the movie, and while it is written (or after it was cut off) its journal
/// (hidden: ".<name>.journal") and the room kept for its index (hidden: ".<name>.reserve").
std::filesystem::path journalOf(const std::filesystem::path& movie);
std::filesystem::path reserveOf(const std::filesystem::path& movie);
/// Whether a file in a recording folder is a recorder's journal, and the movie it belongs to.
std::optional<std::filesystem::path> movieOfJournal(const std::filesystem::path& file);
/// Whether a file in a recording folder is a recorder's kept room, and the movie it belongs to.
std::optional<std::filesystem::path> movieOfReserve(const std::filesystem::path& file);

/// Every name a file can have where captures wait on their way (a recording folder, a drive's take folder, the
/// vault, an outbox, the camera's records), and what it is.
struct LeftFile {
    enum class Kind {
        other,        ///< none of the camera's: left alone
        movie,        ///< "<name>.mov"
        photo,        ///< "<name>.jpg"
        journal,      ///< ".<movie>.journal": `of` is the movie
        reserve,      ///< ".<movie>.reserve": room kept for the movie's index; `of` is the movie
        newJournal,   ///< ".<movie>.journal.new": a journal being made, locked before it takes its name
        setAside,     ///< "<movie>.unfinished": what a finished take could not keep
        deckPartial,  ///< ".<copy>.partial": a deck copy being made; `of` is the copy
        cutWrite,     ///< ".<file>.<8 letters>.tmp": a whole-file write cut off; `of` is the file (perhaps shortened)
        hidden,       ///< any other hidden file
    };
    Kind kind = Kind::other;
    std::string of;

    friend bool operator==(const LeftFile&, const LeftFile&) = default;
};
LeftFile classify(const std::string& name);

/// The lock on a take's journal, in its two halves: the recorder makes the journal already locked and holds it while
/// it lives; a start takes it only for a take it finishes itself. Whoever holds it owns the take: another camera
/// program (on a shared drive) leaves it alone. Locks are the system's (`flock`): a program that ends lets go.
///
/// Makes `journal` for writing, locked before its name can be seen (made under a hidden name, locked, renamed).
/// The descriptor, or -1. The lock lasts while it (or a duplicate of it) is open.
int createLockedJournal(const std::filesystem::path& journal);
/// A start's hold on a journal, tried once without waiting and kept while it lives.
class JournalLock {
public:
    enum class State {
        taken,    ///< held by this one now
        held,     ///< a program alive holds it
        missing,  ///< no such journal
    };
    explicit JournalLock(const std::filesystem::path& journal);
    JournalLock(JournalLock&& other) noexcept;
    JournalLock& operator=(JournalLock&&) = delete;
    JournalLock(const JournalLock&) = delete;
    ~JournalLock();
    State state() const { return state_; }
    /// Lets go at once.
    void release();

private:
    int fd_ = -1;
    State state_ = State::missing;
};
/// Whether a program alive holds the journal now (tried and let go at once).
bool journalHeld(const std::filesystem::path& journal);

/// A take whose recording was cut off, once finished (or found playing as it is).
struct InterruptedTake {
    std::filesystem::path movie;
    double duration = 0;
    Date startDate{};             ///< the take's description date: the first picture's, on the shared clock
    std::int64_t startFrame = 0;  ///< the first picture's time-of-day frame
    int frameRate = 30;
    bool ntsc = false;
};

}  // namespace morvane
