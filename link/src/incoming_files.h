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
#include <set>
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

    /// Where the files that start now are written; asked at each file's start.
    using FolderSource = std::function<std::filesystem::path()>;

    /// `folder`: where files are written until they are taken (what an earlier run left there unfinished is removed);
    /// empty: a new private folder under the system's temporary folder, deleted with this. `taker` is called only
    /// while the owner lives.
    IncomingFiles(std::filesystem::path folder, const Taker& taker);
    ~IncomingFiles();
    IncomingFiles(const IncomingFiles&) = delete;
    IncomingFiles& operator=(const IncomingFiles&) = delete;
    /// Blocks queued for the files do nothing once the session that owns this is gone.
    void setOwner(std::weak_ptr<void> owner) { owner_ = std::move(owner); }
    /// Told, on the session's queue, what to show when a file is refused because its folder cannot be made or its
    /// disk has too little free space for it.
    void setOnRefused(std::function<void(const std::string&)> onRefused) { onRefused_ = std::move(onRefused); }
    /// On the session's queue: files that start from now on go where `source` says (made when missing); an empty
    /// source or an empty answer means the folder given at construction.
    void setFolderSource(FolderSource source) { folderSource_ = std::move(source); }

    /// A file size as the operator reads it: "12.3 MB" below 50 MB, else "1.2 GB".
    static std::string sizeText(std::uint64_t bytes);

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
    /// The folder for a file that starts now, made when missing; the reason in `error` when it cannot be.
    std::filesystem::path arrivalFolder(std::error_code& error);

    std::filesystem::path folder_;
    bool ownsFolder_ = false;
    const Taker& taker_;
    std::weak_ptr<void> owner_;
    std::function<void(const std::string&)> onRefused_;
    FolderSource folderSource_;
    std::set<std::filesystem::path> swept_;  // folders cleared of what earlier runs left unfinished
    std::unique_ptr<DispatchQueue> queue_;
    std::map<std::uint64_t, OfLink> links_;
};

}  // namespace morvane
