#include "camera/take_keeping.h"

namespace morvane {

TakeKeeping::Plan TakeKeeping::plan(const Facts& facts) {
    const bool kept = !facts.keepFailure;
    Plan plan;
    if (facts.sends) {
        if (facts.library == Library::drive) {
            plan.queue = Queue::copy;  // the drive is the library: its file stays
        } else if (facts.library == Library::vault && kept) {
            plan.queue = Queue::vaultEntry;
        } else {
            plan.queue = Queue::move;  // kept as a copy in Pictures, or kept nowhere: the recorded file goes
        }
    }
    plan.removeUnqueued = kept && facts.library == Library::pictures;
    return plan;
}

std::optional<std::string> TakeKeeping::message(const Facts& facts, bool queued, const std::filesystem::path& outbox,
                                                const std::filesystem::path& recorded) {
    if (!facts.keepFailure) return std::nullopt;
    std::string text =
        facts.library == Library::vault ? "Couldn't save to the vault" : "Couldn't save to Pictures › Brindlecroft";
    if (!facts.keepFailure->empty()) text += ": " + *facts.keepFailure;
    if (queued) return text + ". The take goes to the remote; until then it waits in " + outbox.string();
    return text + ". The take is kept in " + recorded.string();
}

LeftRecording::Action LeftRecording::decide(const File& file, const std::set<std::filesystem::path>& present,
                                            const std::set<std::filesystem::path>& journaled,
                                            const std::optional<std::filesystem::path>& recording) {
    if (recording && (file.path == *recording || file.journalOf == *recording || file.reserveOf == *recording))
        return Action::leave;
    if (file.journalOf) return present.count(*file.journalOf) ? Action::none : Action::remove;
    // Room kept for the index matters only to a movie that is finished from its journal.
    if (file.reserveOf)
        return present.count(*file.reserveOf) && journaled.count(*file.reserveOf) ? Action::none : Action::remove;
    if (file.path.extension() != ".mov") return Action::leave;
    if (journaled.count(file.path)) return Action::finish;
    // A movie the recorder finished is stored as it is; any other is finished as far as it plays, or goes.
    return file.whole ? Action::store : Action::finish;
}

}  // namespace morvane
