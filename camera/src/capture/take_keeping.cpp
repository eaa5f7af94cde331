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
    const std::string what = facts.photo ? "photo" : "take";
    if (queued) return text + ". The " + what + " goes to the remote; until then it waits in " + outbox.string();
    return text + ". The " + what + " is kept in " + recorded.string();
}

}  // namespace morvane
