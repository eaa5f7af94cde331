#include "outgoing_files.h"

#include "link/link_message.h"

#include <algorithm>
#include <vector>

namespace morvane {

namespace {

using Kind = LinkMessage::Kind;
constexpr auto bulk = nearby::NearbyConnection::Lane::bulk;
// File data queued on a connection at once: enough to keep the pipe full while the next chunks are read and hashed.
// Packets handed over meanwhile (live video, commands) do not wait behind it: file data leaves in the connection's
// bulk lane. Receivers take chunks up to LinkMessage::maxChunk.
constexpr int chunksInFlight = 4;
constexpr std::size_t fileChunk = LinkMessage::maxChunk;

std::uint8_t k(Kind kind) {
    return static_cast<std::uint8_t>(kind);
}

}  // namespace

void OutgoingFiles::later(std::function<void(OutgoingFiles&)> work) {
    auto owner = owner_.lock();
    if (!owner) return;
    sendQueue_.async([weak = owner_, this, work = std::move(work)] {
        if (auto alive = weak.lock()) work(*this);
    });
}

void OutgoingFiles::complete(Request& request, const std::optional<std::string>& error) const {
    request.progress->setCancellationHandler(nullptr);
    request.progress->markFinished();
    if (!request.completion) return;
    mainExecutor_->async([completion = std::move(request.completion), error] { completion(error); });
}

void OutgoingFiles::begin(Request request, const std::filesystem::path& path, const std::string& name) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    FileHandle file(ec ? nullptr : std::fopen(path.c_str(), "rb"));
    if (!file) return complete(request, "Couldn't read the file");
    const Key key{request.linkId, request.id};
    Transfer transfer;
    transfer.file = std::move(file);
    transfer.size = size;
    transfer.hasher = std::make_unique<crypto::Sha256>();
    request.progress->setTotal(size);
    request.conn->send(k(Kind::fileStart), LinkMessage::FileStart{request.id, size, name}.encode(), {}, bulk);
    auto progress = request.progress;
    transfer.request = std::move(request);
    transfers_.emplace(key, std::move(transfer));
    progress->setCancellationHandler([weak = owner_, this, key] {
        if (auto alive = weak.lock()) later([key](OutgoingFiles& files) { files.cancel(key); });
    });
    pump(key);
}

void OutgoingFiles::pump(const Key& key) {
    auto it = transfers_.find(key);
    if (it == transfers_.end()) return;
    auto& t = it->second;
    auto& conn = *t.request.conn;
    const auto id = t.request.id;
    while (t.inFlight < chunksInFlight && t.sent < t.size) {
        const auto size = static_cast<std::size_t>(std::min<std::uint64_t>(fileChunk, t.size - t.sent));
        if (t.buffer.size() < 4 + size) t.buffer.resize(4 + fileChunk);
        Bytes& chunk = t.buffer;
        const auto header = LinkMessage::encodeChunkHeader(id);
        std::copy(header.begin(), header.end(), chunk.begin());
        if (std::fread(chunk.data() + 4, 1, size, t.file.get()) != size) {
            conn.send(k(Kind::fileCancel), LinkMessage::encodeId(id), {}, bulk);
            finish(key, "The file changed while it was sent");
            return;
        }
        t.hasher->update(chunk.data() + 4, size);
        t.sent += size;
        ++t.inFlight;
        conn.send(
            k(Kind::fileChunk), chunk.data(), 4 + size,
            [weak = owner_, this, key, size] {
                if (auto alive = weak.lock()) {
                    later([key, size](OutgoingFiles& files) { files.chunkWritten(key, size); });
                }
            },
            bulk);
    }
    if (t.sent == t.size && t.inFlight == 0 && !t.endSent) {
        t.endSent = true;
        conn.send(k(Kind::fileEnd), LinkMessage::FileEnd{id, t.hasher->finish()}.encode(), {}, bulk);
    }
}

void OutgoingFiles::chunkWritten(const Key& key, std::size_t size) {
    auto it = transfers_.find(key);
    if (it == transfers_.end()) return;
    it->second.inFlight -= 1;
    it->second.written += size;
    it->second.request.progress->setCompleted(it->second.written);
    pump(key);
}

void OutgoingFiles::cancel(const Key& key) {
    auto it = transfers_.find(key);
    if (it == transfers_.end()) return;
    it->second.request.conn->send(k(Kind::fileCancel), LinkMessage::encodeId(it->second.request.id), {}, bulk);
    finish(key, "The transfer was cancelled");
}

void OutgoingFiles::failLink(std::uint64_t linkId, const std::string& error) {
    std::vector<Key> keys;
    for (const auto& [key, t] : transfers_) {
        if (key.first == linkId) keys.push_back(key);
    }
    for (const auto& key : keys) finish(key, error);
}

void OutgoingFiles::finish(const Key& key, const std::optional<std::string>& error) {
    auto it = transfers_.find(key);
    if (it == transfers_.end()) return;
    auto transfer = std::move(it->second);
    transfers_.erase(it);
    transfer.file.reset();
    if (!error) transfer.request.progress->setCompleted(transfer.size);
    complete(transfer.request, error);
}

}  // namespace morvane
