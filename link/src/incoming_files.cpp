#include "incoming_files.h"

#include "file_work.h"
#include "platform/log.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>

namespace morvane {

namespace {

using Kind = LinkMessage::Kind;
using FileStatus = LinkMessage::FileStatus;
constexpr const char* component = "PeerSession";
constexpr std::size_t maxIncomingFiles = 8;
constexpr std::size_t maxDiscardedFiles = 64;

std::uint8_t k(Kind kind) {
    return static_cast<std::uint8_t>(kind);
}

std::string hex(const Bytes& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (auto b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

// Files an earlier run was still receiving when it ended: in a lasting folder they would fill its disk.
void removeUnfinished(const std::filesystem::path& folder) {
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        std::error_code ignored;
        if (name.starts_with("incoming-") && name.ends_with(".part") && it->is_regular_file(ignored))
            std::filesystem::remove(it->path(), ignored);
    }
}

}  // namespace

std::string IncomingFiles::sizeText(std::uint64_t bytes) {
    char text[32];
    if (bytes < 50'000'000)
        std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
    else
        std::snprintf(text, sizeof text, "%.1f GB", static_cast<double>(bytes) / 1e9);
    return text;
}

// Above this much file data waiting to be written a connection stops reading; below the low mark it reads again.
// The marks lie close together: while reading stops, packets wait behind file data in the peer's stream, so each
// pause lasts only as long as the disk takes for 1 MiB, and the backlog that remains keeps the disk busy.
constexpr std::size_t backlogHigh = 16u << 20;
constexpr std::size_t backlogLow = 15u << 20;

std::shared_ptr<void> IncomingFiles::Backlog::add(const std::shared_ptr<Backlog>& backlog, std::size_t size) {
    const auto total = backlog->size_.fetch_add(size) + size;
    std::shared_ptr<void> hold(nullptr, [backlog, size](void*) {
        if (backlog->size_.fetch_sub(size) - size < backlogLow && backlog->paused_.exchange(false)) {
            if (auto c = backlog->conn_.lock()) c->resumeReading();
        }
    });
    if (total > backlogHigh) {
        if (auto c = backlog->conn_.lock()) {
            backlog->paused_.store(true);
            c->pauseReading();
            // The delivery queue may have caught up before it could see the pause.
            if (backlog->size_.load() < backlogLow && backlog->paused_.exchange(false)) c->resumeReading();
        }
    }
    return hold;
}

IncomingFiles::IncomingFiles(std::filesystem::path folder, const Taker& taker)
    : folder_(std::move(folder)), taker_(taker) {
    if (folder_.empty()) {
        auto pattern = (std::filesystem::temp_directory_path() / "morvane-peer-XXXXXX").string();
        if (::mkdtemp(pattern.data())) folder_ = pattern;  // mkdtemp makes it 0700
        ownsFolder_ = true;
    } else {
        std::error_code ec;
        std::filesystem::create_directories(folder_, ec);
        std::filesystem::permissions(folder_, std::filesystem::perms::owner_all, std::filesystem::perm_options::replace,
                                     ec);
        removeUnfinished(folder_);
    }
    swept_.insert(folder_);
    queue_ = std::make_unique<DispatchQueue>("morvane.peer-resource");
    queue_->async(runAsFileWork);
}

IncomingFiles::~IncomingFiles() {
    queue_.reset();
    if (ownsFolder_ && !folder_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(folder_, ec);
    }
}

std::filesystem::path IncomingFiles::arrivalFolder(std::error_code& error) {
    std::filesystem::path folder = folderSource_ ? folderSource_() : std::filesystem::path();
    if (folder.empty()) folder = folder_;
    // Made again when something took it away: a clean-up, a copy of the shoot folder, a disk unmounted.
    if (!std::filesystem::is_directory(folder, error)) {
        error.clear();
        std::filesystem::create_directories(folder, error);
        if (!error && !std::filesystem::is_directory(folder, error) && !error)
            error = std::make_error_code(std::errc::not_a_directory);
        if (error) return folder;
        std::filesystem::permissions(folder, std::filesystem::perms::owner_all, std::filesystem::perm_options::replace,
                                     error);
        error.clear();
    }
    if (swept_.insert(folder).second) removeUnfinished(folder);
    return folder;
}

void IncomingFiles::answer(const From& from, std::uint32_t id, FileStatus status) {
    from.conn->send(k(Kind::fileResult), LinkMessage::FileResult{id, status}.encode());
}

// Chunks of a file we turned down may still be on their way; they are dropped quietly.
void IncomingFiles::discard(OfLink& link, std::uint32_t id) {
    link.discarded.push_back(id);
    if (link.discarded.size() > maxDiscardedFiles) link.discarded.pop_front();
}

bool IncomingFiles::wasDiscarded(OfLink& link, std::uint32_t id, bool forget) {
    auto it = std::find(link.discarded.begin(), link.discarded.end(), id);
    if (it == link.discarded.end()) return false;
    if (forget) link.discarded.erase(it);
    return true;
}

// Closes a partial file and deletes it, after the writes already queued for it.
void IncomingFiles::discardSink(const std::shared_ptr<Sink>& sink) {
    queue_->async([sink] {
        sink->file.reset();
        std::error_code ec;
        std::filesystem::remove(sink->path, ec);
    });
}

void IncomingFiles::dropLink(std::uint64_t linkId) {
    auto it = links_.find(linkId);
    if (it == links_.end()) return;
    for (auto& [id, file] : it->second.files) discardSink(file.sink);
    links_.erase(it);
}

std::optional<std::string> IncomingFiles::receive(const From& from, Kind kind, Bytes body, std::shared_ptr<void> hold) {
    auto& link = links_[from.linkId];
    switch (kind) {
        case Kind::fileStart: {
            auto start = LinkMessage::FileStart::decode(body);
            if (!start) return "malformed file start";
            if (link.files.count(start->id) || wasDiscarded(link, start->id, false)) return "file id in use";
            std::error_code ec;
            const auto folder = arrivalFolder(ec);
            const bool made = !ec;
            std::filesystem::space_info space{};
            if (made) space = std::filesystem::space(folder, ec);
            if (link.files.size() >= maxIncomingFiles || ec || space.available < start->size) {
                answer(from, start->id, FileStatus::refused);
                discard(link, start->id);
                // The sender tries again later; until then someone has to make room, or a place for the file.
                const std::string what = "a " + sizeText(start->size) + " file from " + from.name + ": ";
                std::string text;
                if (!made)
                    text = "No folder for " + what + folder.string() + " can't be made (" + ec.message() + ")";
                else if (ec)
                    text = "No room for " + what + "the free space on the disk of " + folder.string() +
                           " can't be read (" + ec.message() + ")";
                else if (space.available < start->size)
                    text =
                        "No room for " + what + sizeText(space.available) + " free on the disk of " + folder.string();
                if (!text.empty() && onRefused_) onRefused_(text);
                return std::nullopt;
            }
            auto sink = std::make_shared<Sink>();
            sink->path = folder / ("incoming-" + hex(crypto::randomBytes(8)) + ".part");
            const int fd = ::open(sink->path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            if (fd >= 0) sink->file.reset(::fdopen(fd, "wb"));
            if (!sink->file) {
                if (fd >= 0) ::close(fd);
                answer(from, start->id, FileStatus::failed);
                discard(link, start->id);
                return std::nullopt;
            }
            // Chunks are written whole; stdio's own buffer would only add a copy.
            std::setvbuf(sink->file.get(), nullptr, _IONBF, 0);
            File file;
            file.sink = std::move(sink);
            file.size = start->size;
            file.name = std::move(start->name);
            link.files.emplace(start->id, std::move(file));
            return std::nullopt;
        }
        case Kind::fileChunk: {
            auto id = LinkMessage::decodeChunkId(body);
            if (!id) return "malformed file chunk";
            if (wasDiscarded(link, *id, false)) return std::nullopt;
            auto it = link.files.find(*id);
            if (it == link.files.end()) return "chunk of an unknown file";
            auto& file = it->second;
            const std::size_t size = body.size() - 4;
            if (size > file.size - file.received) return "file longer than announced";
            file.received += size;
            if (size) {
                queue_->async([sink = file.sink, body = std::move(body), hold = std::move(hold),
                               conn = std::weak_ptr(from.conn)]() mutable {
                    if (!sink->failed && sink->file) {
                        const std::size_t n = body.size() - 4;
                        sink->hasher.update(body.data() + 4, n);
                        if (std::fwrite(body.data() + 4, 1, n, sink->file.get()) != n) sink->failed = true;
                    }
                    if (auto c = conn.lock()) c->recycle(std::move(body));
                });
            }
            return std::nullopt;
        }
        case Kind::fileEnd: {
            auto end = LinkMessage::FileEnd::decode(body);
            if (!end) return "malformed file end";
            if (wasDiscarded(link, end->id, true)) return std::nullopt;
            auto it = link.files.find(end->id);
            if (it == link.files.end()) return "end of an unknown file";
            auto file = std::move(it->second);
            link.files.erase(it);
            const std::optional<crypto::Digest> expected =
                file.received == file.size ? std::optional(end->digest) : std::nullopt;
            finish(std::move(file), expected, end->id, from);
            return std::nullopt;
        }
        case Kind::fileCancel: {
            auto id = LinkMessage::decodeId(body);
            if (!id) return "malformed file cancel";
            wasDiscarded(link, *id, true);
            if (auto it = link.files.find(*id); it != link.files.end()) {
                discardSink(it->second.sink);
                link.files.erase(it);
            }
            return std::nullopt;
        }
        default:
            return std::nullopt;
    }
}

// On the delivery queue, after the file's last write: on the disk before the sender hears that the file arrived (it
// may forget its copy then), then to the taker. `expected`: the digest the sender sent, none when the size was
// already wrong.
void IncomingFiles::finish(File file, const std::optional<crypto::Digest>& expected, std::uint32_t transferId,
                           const From& from) {
    queue_->async([weak = owner_, taker = &taker_, sink = file.sink, name = std::move(file.name), expected, transferId,
                   peer = from.peer, fromName = from.name, conn = from.conn] {
        const auto digest = sink->hasher.finish();
        const bool whole = expected && crypto::constantTimeEqual(digest.data(), expected->data(), digest.size());
        if (!whole && !sink->failed) log::info(component, "a file from " + fromName + " failed its check");
        const bool flushed = !sink->failed && sink->file && std::fflush(sink->file.get()) == 0 &&
                             ::fsync(::fileno(sink->file.get())) == 0;
        sink->file.reset();
        if (!flushed || !whole) {
            std::error_code ec;
            std::filesystem::remove(sink->path, ec);
            const auto status = flushed ? FileStatus::corrupt : FileStatus::failed;
            if (weak.lock()) conn->send(k(Kind::fileResult), LinkMessage::FileResult{transferId, status}.encode());
            return;
        }
        auto owner = weak.lock();
        // The sender may let go of its copy on ok: say ok only when a taker ran and kept the file.
        auto status = FileStatus::refused;
        if (owner) {
            try {
                if ((*taker)(sink->path, name, peer)) status = FileStatus::ok;
            } catch (const std::exception& e) {
                log::error(component, std::string("a received file was not taken: ") + e.what());
                status = FileStatus::failed;
            }
        }
        std::error_code ec;
        std::filesystem::remove(sink->path, ec);
        if (owner) conn->send(k(Kind::fileResult), LinkMessage::FileResult{transferId, status}.encode());
    });
}

}  // namespace morvane
