#pragma once

#include "file_handle.h"
#include "link/transfer_progress.h"
#include "platform/crypto.h"
#include "platform/dispatch_queue.h"
#include "platform/nearby_service.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace morvane {

/// The files a session sends, on its send queue: each is read and hashed in chunks, a few chunks in flight on its
/// link's connection (in the bulk lane, so packets overtake them), then its end; the completion runs on the main
/// executor once the receiver answered, the transfer was cancelled or its link went.
class OutgoingFiles {
public:
    using Key = std::pair<std::uint64_t, std::uint32_t>;  // link id, transfer id
    /// Runs on the main executor with none on success, else a short reason.
    using Completion = std::function<void(const std::optional<std::string>& error)>;

    /// What the session's queue decided: the ready link a file goes to and the transfer's number on it.
    struct Request {
        std::uint64_t linkId = 0;
        std::uint32_t id = 0;
        std::shared_ptr<nearby::NearbyConnection> conn;
        std::shared_ptr<TransferProgress> progress;
        Completion completion;
    };

    OutgoingFiles(DispatchQueue& sendQueue, std::shared_ptr<Executor> mainExecutor)
        : sendQueue_(sendQueue), mainExecutor_(std::move(mainExecutor)) {}
    /// Blocks queued by a transfer do nothing once the session that owns this is gone.
    void setOwner(std::weak_ptr<void> owner) { owner_ = std::move(owner); }

    // On the send queue.
    void begin(Request request, const std::filesystem::path& file, const std::string& name);
    /// The receiver's answer: none when it kept the file.
    void finish(const Key& key, const std::optional<std::string>& error);
    void failLink(std::uint64_t linkId, const std::string& error);

    /// Ends a transfer: marks it finished and hands `error` (none on success) to its completion; from any thread.
    void complete(Request& request, const std::optional<std::string>& error) const;

private:
    struct Transfer {
        Request request;
        FileHandle file;
        std::uint64_t size = 0;
        std::uint64_t sent = 0;
        std::uint64_t written = 0;
        int inFlight = 0;
        bool endSent = false;
        std::unique_ptr<crypto::Sha256> hasher;
        Bytes buffer;
    };

    void pump(const Key& key);
    void chunkWritten(const Key& key, std::size_t size);
    void cancel(const Key& key);
    /// Runs `work` on the send queue while the session lives.
    void later(std::function<void(OutgoingFiles&)> work);

    DispatchQueue& sendQueue_;
    const std::shared_ptr<Executor> mainExecutor_;
    std::weak_ptr<void> owner_;
    std::map<Key, Transfer> transfers_;
};

}  // namespace morvane
