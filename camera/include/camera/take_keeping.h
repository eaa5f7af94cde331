#pragma once

#include <filesystem>
#include <optional>
#include <set>
#include <string>

namespace morvane {

/// Where a finished take goes and what the operator is told. The camera keeps each take in its library (the vault,
/// Pictures › Brindlecroft, or the drive it was recorded on) and queues it for the remote. A take the library cannot
/// hold (a full disk, a Pictures folder that fails) still goes to the remote; one that can go nowhere stays where it
/// was recorded, and the next start of the camera stores it again. Either way the operator learns where it is.
struct TakeKeeping {
    enum class Library { vault, pictures, drive };
    /// How the take reaches the outbox.
    enum class Queue {
        none,        ///< not sent
        vaultEntry,  ///< an entry naming the take's vault file
        copy,        ///< a copy of the recorded file, which stays where it is
        move,        ///< the recorded file itself
    };

    struct Facts {
        Library library = Library::pictures;
        /// Why the library could not keep the take; none when it did.
        std::optional<std::string> keepFailure;
        bool sends = true;  ///< captures go to the remote
    };
    struct Plan {
        Queue queue = Queue::none;
        /// The recorded file is removed when it was not queued: the library holds its own copy.
        bool removeUnqueued = false;
    };
    static Plan plan(const Facts& facts);

    /// What the operator is told after the take was (or was not) queued: none when the library keeps it (the take
    /// is then reported as saved). `outbox` and `recorded` are where the take then waits.
    static std::optional<std::string> message(const Facts& facts, bool queued, const std::filesystem::path& outbox,
                                              const std::filesystem::path& recorded);
};

/// What the camera does at its start with each file left in its recording folder, where nothing is recorded yet:
/// a take cut by a crash, a kill or a power cut is finished and stored as any take (or set aside, `recoverTake`),
/// a journal or a kept room whose movie is gone goes (they hold no footage), and nothing else is touched.
struct LeftRecording {
    enum class Action {
        none,    ///< handled with another file (a journal or a kept room, with its movie)
        finish,  ///< a movie cut short: finished from its journal and stored as a take, or set aside (`recoverTake`)
        store,   ///< a whole movie that was not stored (the camera ended as it stored it): stored as a take
        remove,  ///< no footage: a journal or a kept room whose movie is gone
        leave,   ///< not a take's
    };
    struct File {
        std::filesystem::path path;
        /// The movie whose journal this file is, if it is one.
        std::optional<std::filesystem::path> journalOf;
        bool whole = false;  ///< a movie that opens whole (its index written)
        /// The movie whose kept room this file is, if it is one.
        std::optional<std::filesystem::path> reserveOf;
    };
    /// `present`: every file of the folder; `recording`: the movie being recorded, if any.
    static Action decide(const File& file, const std::set<std::filesystem::path>& present,
                         const std::set<std::filesystem::path>& journaled,
                         const std::optional<std::filesystem::path>& recording);
};

}  // namespace morvane
