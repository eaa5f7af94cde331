#include "camera/take_log.h"

#include "json_list_file.h"

namespace morvane {

TakeLog::TakeLog(std::filesystem::path url) : url_(std::move(url)) {
    entries_ = stores::decodeEach<Entry>(stores::loadList(url_), &TakeLog::decode);
}

std::vector<TakeLog::Entry> TakeLog::entries() const {
    std::lock_guard lock(lock_);
    return entries_;
}

std::optional<TakeLog::Entry> TakeLog::entry(const Uuid& id) const {
    std::lock_guard lock(lock_);
    for (const auto& e : entries_) {
        if (e.info.id == id) return e;
    }
    return std::nullopt;
}

void TakeLog::append(Entry entry) {
    std::lock_guard lock(lock_);
    entries_.push_back(std::move(entry));
    save();
}

bool TakeLog::markCopied(const Uuid& id) {
    std::lock_guard lock(lock_);
    bool found = false;
    for (auto& e : entries_) {
        if (e.info.id == id && !e.copied) {
            e.copied = true;
            found = true;
        } else if (e.info.id == id) {
            found = true;
        }
    }
    if (found) save();
    return found;
}

bool TakeLog::markQueued(const Uuid& id) {
    std::lock_guard lock(lock_);
    bool found = false;
    for (auto& e : entries_) {
        if (e.info.id != id) continue;
        found = true;
        e.queued.reset();
    }
    if (found) save();
    return found;
}

void TakeLog::save() {
    Json array = Json::array();
    try {
        for (const auto& e : entries_) array.push_back(encode(e));
    } catch (const std::exception&) {
        return;
    }
    stores::writeList(url_, array);
}

Json TakeLog::encode(const Entry& entry) {
    Json j = Json::object();
    j["info"] = entry.info;
    j["appleLog"] = entry.appleLog;
    if (entry.appleLog2) j["appleLog2"] = *entry.appleLog2;
    if (entry.vaultFile) j["vaultFile"] = *entry.vaultFile;
    if (entry.photoAssetID) j["photoAssetID"] = *entry.photoAssetID;
    if (entry.driveFile) j["driveFile"] = *entry.driveFile;
    if (entry.queued) j["queued"] = *entry.queued;
    j["copied"] = entry.copied;
    return j;
}

std::optional<TakeLog::Entry> TakeLog::decode(const Json& json) {
    try {
        if (!json.is_object()) return std::nullopt;
        Entry entry;
        entry.info = json.at("info").get<TransferInfo>();
        entry.appleLog = boolFromJson(json.at("appleLog"));
        entry.copied = boolFromJson(json.at("copied"));
        auto optional = [&](const char* key) -> const Json* {
            auto it = json.find(key);
            return it == json.end() || it->is_null() ? nullptr : &*it;
        };
        if (const Json* v = optional("appleLog2")) entry.appleLog2 = boolFromJson(*v);
        if (const Json* v = optional("vaultFile")) entry.vaultFile = stringFromJson(*v);
        if (const Json* v = optional("photoAssetID")) entry.photoAssetID = stringFromJson(*v);
        if (const Json* v = optional("driveFile")) entry.driveFile = stringFromJson(*v);
        if (const Json* v = optional("queued")) entry.queued = boolFromJson(*v);
        return entry;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace morvane
