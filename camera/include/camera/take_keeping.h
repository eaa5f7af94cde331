#pragma once

#include <filesystem>
#include <optional>
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
        bool sends = true;   ///< captures go to the remote
        bool photo = false;  ///< a photo, which goes the way a take does
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

}  // namespace morvane
