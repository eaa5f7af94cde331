#include "recording/take_sync.h"

#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "platform/log.h"

namespace morvane {

TakeSync::TakeSync(int movie, int journal, Sync sync)
    : movie_(movie), journal_(journal), sync_(std::move(sync)), thread_([this] { run(); }) {}

TakeSync::~TakeSync() {
    {
        std::lock_guard lock(lock_);
        stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void TakeSync::keep(std::string journalBytes) {
    if (journalBytes.empty()) return;
    {
        std::lock_guard lock(lock_);
        pending_ += journalBytes;
    }
    wake_.notify_one();
}

void TakeSync::run() {
    for (;;) {
        std::string bytes;
        {
            std::unique_lock lock(lock_);
            wake_.wait(lock, [&] { return stopping_ || !pending_.empty(); });
            if (pending_.empty()) return;  // stopping, and everything brought
            bytes.swap(pending_);
        }
        if (!failed_ && !bring(bytes)) {
            failed_ = true;
            log::error("MovieRecorder", "the disk didn't keep what was written: the journal lists nothing more");
        }
    }
}

bool TakeSync::bring(const std::string& journalBytes) {
    // The samples' bytes first: only then may the journal list them.
    if (sync_(movie_) != 0) return false;
    for (std::string_view left = journalBytes; !left.empty();) {
        const ssize_t w = ::write(journal_, left.data(), left.size());
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;  // a record cut off: none may follow it
        left.remove_prefix(static_cast<std::size_t>(w));
    }
    return sync_(journal_) == 0;
}

}  // namespace morvane
