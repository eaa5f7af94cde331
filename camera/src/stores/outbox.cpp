#include "camera/outbox.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <set>

#include "json_list_file.h"
#include "platform/atomic_file.h"
#include "platform/defaults.h"
#include "platform/file_moves.h"
#include "platform/utf8.h"

namespace morvane {

namespace fs = std::filesystem;

Outbox::Outbox(fs::path directory, std::shared_ptr<Executor> main)
    : directory_(std::move(directory)), main_(std::move(main)), reporter_(std::make_shared<Reporter>()) {
    std::error_code ec;
    fs::create_directories(directory_, ec);
    // Neither holds a capture of its own: a list never moved into place, or a copy whose original is still there.
    removeInterruptedWrites(listFile());
    removeInterruptedPlacements(directory_);
    items_ = stores::decodeEach<Item>(stores::loadList(listFile()), &Outbox::decode);
}

void Outbox::settleUnlisted(const std::function<Unlisted(const std::string& fileName)>& describe) {
    std::set<std::string> listed{listFile().filename().string()};
    for (const auto& item : items()) {
        if (item.location == Item::Location::outbox) listed.insert(item.fileName);
    }
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(directory_, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code ignored;
        const std::string name = it->path().filename().string();
        if (name.starts_with(".") || listed.count(name) || !it->is_regular_file(ignored) || it->is_symlink(ignored))
            continue;
        names.push_back(name);
    }
    std::vector<Item> waiting;
    for (const auto& name : names) {
        const auto found = describe(name);
        if (found.kind == Unlisted::Kind::waiting) {
            waiting.push_back({found.info, Item::Location::outbox, name});
        } else if (found.kind == Unlisted::Kind::sent) {
            std::error_code ignored;
            fs::remove(directory_ / name, ignored);
        }
    }
    // In the order they were captured, as they would have been listed.
    std::sort(waiting.begin(), waiting.end(),
              [](const Item& a, const Item& b) { return a.info.capturedAt < b.info.capturedAt; });
    for (auto& item : waiting) add(std::move(item));
}

void Outbox::setOnCountChanged(std::function<void(int)> callback) {
    std::lock_guard lock(reporter_->lock);
    reporter_->callback = std::move(callback);
}

void Outbox::add(Item item) {
    std::lock_guard serial(writeLock_);
    std::vector<Item> copy;
    {
        std::lock_guard lock(lock_);
        items_.push_back(std::move(item));
        copy = items_;
    }
    saveAndReport(copy);
}

bool Outbox::remove(const Uuid& id) {
    std::lock_guard serial(writeLock_);
    std::vector<Item> copy;
    {
        std::lock_guard lock(lock_);
        const auto before = items_.size();
        std::erase_if(items_, [&](const Item& i) { return i.info.id == id; });
        if (items_.size() == before) return false;
        copy = items_;
    }
    saveAndReport(copy);
    return true;
}

std::vector<Outbox::Item> Outbox::items() const {
    std::lock_guard lock(lock_);
    return items_;
}

std::optional<Outbox::Item> Outbox::item(const Uuid& id) const {
    std::lock_guard lock(lock_);
    for (const auto& i : items_) {
        if (i.info.id == id) return i;
    }
    return std::nullopt;
}

void Outbox::saveAndReport(const std::vector<Item>& list) {
    Json array = Json::array();
    bool encoded = true;
    try {
        for (const auto& i : list) array.push_back(encode(i));
    } catch (const std::exception&) {
        encoded = false;  // a non-finite duration: the file keeps its previous list
    }
    if (encoded) stores::writeList(listFile(), array);
    const int count = static_cast<int>(list.size());
    // The callback is read when the report runs, so one installed meanwhile still hears this change.
    main_->async([reporter = reporter_, count] {
        std::function<void(int)> report;
        {
            std::lock_guard lock(reporter->lock);
            report = reporter->callback;
        }
        if (report) report(count);
    });
}

Json Outbox::encode(const Item& item) {
    Json j = Json::object();
    j["info"] = item.info;
    j["location"] = item.location == Item::Location::vault ? "vault" : "outbox";
    j["fileName"] = item.fileName;
    return j;
}

std::optional<Outbox::Item> Outbox::decode(const Json& json) {
    try {
        if (!json.is_object() || !json.contains("info") || !json.contains("location") || !json.contains("fileName")) {
            return std::nullopt;
        }
        Item item;
        item.info = json.at("info").get<TransferInfo>();
        const auto location = stringFromJson(json.at("location"));
        if (location == "outbox") {
            item.location = Item::Location::outbox;
        } else if (location == "vault") {
            item.location = Item::Location::vault;
        } else {
            return std::nullopt;
        }
        item.fileName = stringFromJson(json.at("fileName"));
        // The name is used inside our own folders only: anything that is not one plain name is refused.
        if (item.fileName.empty() || item.fileName == "." || item.fileName == ".." ||
            item.fileName.find('/') != std::string::npos || item.fileName.find('\0') != std::string::npos) {
            return std::nullopt;
        }
        return item;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// MARK: - Capture names

std::string takeFileName(Date date, const std::string& deviceName, const std::string& extension) {
    const auto seconds = static_cast<std::time_t>(std::floor(date.unixSeconds()));
    std::tm local{};
    localtime_r(&seconds, &local);
    char stamp[32] = {};
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H.%M.%S", &local);
    std::string name;
    name.reserve(deviceName.size());
    for (char c : deviceName) {
        const auto u = static_cast<unsigned char>(c);
        name.push_back(c == '/' || c == ':' || u < 0x20 || u == 0x7f ? '-' : c);
    }
    const std::string prefix = std::string(stamp) + " ";
    const std::string suffix = "." + extension;
    const std::size_t room = prefix.size() + suffix.size() < 255 ? 255 - prefix.size() - suffix.size() : 0;
    return prefix + std::string(utf8Prefix(name, room)) + suffix;
}

bool sendsToMac(const Defaults& defaults) {
    return defaults.boolValue("sendToMac", true);
}

std::string uniqueVaultName(const fs::path& vaultFolder, const std::string& name) {
    const fs::path path(name);
    std::error_code ec;
    const auto free = claimFirstFreeName(
        vaultFolder, path.stem().string(), path.extension().string(),
        [](const fs::path& candidate) {
            std::error_code ignored;
            return fs::exists(fs::symlink_status(candidate, ignored)) ? EEXIST : 0;
        },
        ec);
    return free ? free->filename().string() : name;
}

}  // namespace morvane
