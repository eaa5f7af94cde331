#pragma once

#include "file_handle.h"
#include "link/callback.h"
#include "link/link_message.h"
#include "link/peer_id.h"
#include "platform/crypto.h"
#include "platform/dispatch_queue.h"
#include "platform/nearby_service.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace morvane {

/// The files a session receives. Their messages are checked on the session's queue; the data is hashed and written,
/// and the finished file handed to `onResource`, on a delivery queue of its own, so that the session's queue, which
/// every packet passes through, never waits behind the disk. Each file lives in the private temporary folder until
/// its taker returns; a dropped link or a cancel deletes partial files.
class IncomingFiles {
public:
    /// The link a message came on.
    struct From {
        std::uint64_t linkId = 0;
        PeerId peer;
        const std::string& name;
        const std::shared_ptr<nearby::NearbyConnection>& conn;
    };

    /// Received file data of one link not yet hashed and written, counted on the network thread: above a high mark
    /// the connection stops reading (TCP then slows the sender), below a low mark it reads again.
    class Backlog {
    public:
        explicit Backlog(std::weak_ptr<nearby::NearbyConnection> conn) : conn_(std::move(conn)) {}
        /// Counts a message's `size` bytes until the hold given back is let go.
        static std::shared_ptr<void> add(const std::shared_ptr<Backlog>& backlog, std::size_t size);

    private:
        std::weak_ptr<nearby::NearbyConnection> conn_;
        std::atomic<std::size_t> size_{0};
        std::atomic<bool> paused_{false};
    };

    /// Takes a whole file (moving it away) before it is deleted.
    using Taker = Callback<const std::filesystem::path&, const std::string&, const PeerId&>;

    /// `folder`: where files are written until they are taken (what an earlier run left there unfinished is removed);
    /// empty: a new private folder under the system's temporary folder, deleted with this. `taker` is called only
    /// while the owner lives.
    IncomingFiles(std::filesystem::path folder, const Taker& taker);
    ~IncomingFiles();
    IncomingFiles(const IncomingFiles&) = delete;
    IncomingFiles& operator=(const IncomingFiles&) = delete;
    /// Blocks queued for the files do nothing once the session that owns this is gone.
    void setOwner(std::weak_ptr<void> owner) { owner_ = std::move(owner); }
    /// Told, on the session's queue, what to show when a file is refused because its folder's disk has too little
    /// free space for it.
    void setOnNoRoom(std::function<void(const std::string&)> onNoRoom) { onNoRoom_ = std::move(onNoRoom); }

    /// On the session's queue: file start, chunk, end or cancel of a ready link. A protocol fault comes back as its
    /// text (the link is then to be closed); `hold` is let go once the chunk's data is written.
    std::optional<std::string> receive(const From& from, LinkMessage::Kind kind, Bytes body,
                                       std::shared_ptr<void> hold);
    /// On the session's queue: the link went; its partial files are deleted.
    void dropLink(std::uint64_t linkId);

    bool isCurrent() const { return queue_ && queue_->isCurrent(); }
    /// Runs what is queued for the files and ends the delivery thread.
    void drain() { queue_.reset(); }

private:
    // A file's open handle and digest, worked on the delivery queue only.
    struct Sink {
        std::filesystem::path path;
        FileHandle file;
        crypto::Sha256 hasher;
        bool failed = false;
    };
    struct File {
        std::shared_ptr<Sink> sink;
        std::uint64_t size = 0;
        std::uint64_t received = 0;
        std::string name;
    };
    struct OfLink {
        std::map<std::uint32_t, File> files;
        std::deque<std::uint32_t> discarded;
    };

    void answer(const From& from, std::uint32_t id, LinkMessage::FileStatus status);
    void discard(OfLink& link, std::uint32_t id);
    static bool wasDiscarded(OfLink& link, std::uint32_t id, bool forget);
    void discardSink(const std::shared_ptr<Sink>& sink);
    void finish(File file, const std::optional<crypto::Digest>& expected, std::uint32_t transferId, const From& from);

    std::filesystem::path folder_;
    bool ownsFolder_ = false;
    const Taker& taker_;
    std::weak_ptr<void> owner_;
    std::function<void(const std::string&)> onNoRoom_;
    std::unique_ptr<DispatchQueue> queue_;
    std::map<std::uint64_t, OfLink> links_;
};

}  // namespace morvane
