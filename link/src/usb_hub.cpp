#include "link/usb_hub.h"

#include "platform/log.h"
#include "platform/user_folders.h"
#include "usb_mux_client.h"

#include <unistd.h>

#include <cstdlib>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace morvane {

namespace {
constexpr const char* component = "USBHub";
}

struct USBHub::State : std::enable_shared_from_this<USBHub::State> {
    Options options;
    DispatchQueue* queue = nullptr;  // the hub's; it outlives every block and reader that uses it

    mutable std::mutex mutex;
    bool running = false;
    std::uint64_t generation = 0;
    std::shared_ptr<Keychain> keychain;
    std::filesystem::path folder;
    FileHandler onFile;
    std::map<std::uint32_t, std::shared_ptr<USBDeviceLink>> links;
    std::set<std::uint32_t> reportedRefusals;
    bool serviceFailing = false;
    Counters counters;

    void poll(std::uint64_t forGeneration);
    void schedulePoll(std::uint64_t forGeneration, double delay);
    void deliver(const std::shared_ptr<USBDeviceLink>& link, USBDeviceLink::ReceivedFile file);
    bool isCurrent(std::uint64_t forGeneration) const { return running && generation == forGeneration; }
};

std::filesystem::path USBHub::defaultTemporaryFolder() {
    if (auto cache = userBaseFolder("XDG_CACHE_HOME", ".cache")) return *cache / "Brindlecroft";
    std::error_code ec;
    return std::filesystem::temp_directory_path(ec) / "Brindlecroft";
}

USBHub::USBHub() : USBHub(Options{}) {}

USBHub::USBHub(Options options)
    : queue_(std::make_unique<DispatchQueue>(queueLabel)), state_(std::make_shared<State>()) {
    state_->options = std::move(options);
    if (!(state_->options.pollInterval > 0)) state_->options.pollInterval = 2.0;
    state_->queue = queue_.get();
}

USBHub::~USBHub() {
    stop();
}

bool USBHub::isRunning() const {
    std::lock_guard lock(state_->mutex);
    return state_->running;
}

std::size_t USBHub::linkCount() const {
    std::lock_guard lock(state_->mutex);
    std::size_t count = 0;
    for (const auto& [id, link] : state_->links) {
        if (!link->isClosed() && link->isAuthenticated()) ++count;
    }
    return count;
}

USBHub::Counters USBHub::counters() const {
    std::lock_guard lock(state_->mutex);
    return state_->counters;
}

void USBHub::start() {
    auto& s = *state_;
    std::lock_guard lock(s.mutex);
    if (s.running) return;

    s.keychain = s.options.keychain ? s.options.keychain : std::make_shared<Keychain>(Keychain::defaultFolder());
    std::filesystem::path base =
        s.options.temporaryFolder.empty() ? defaultTemporaryFolder() : s.options.temporaryFolder;
    std::error_code ec;
    std::filesystem::create_directories(base, ec);
    // A folder of our own, mode 0700, so that nobody else reads or swaps the files as they arrive.
    std::string pattern = (base / "usb-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
        log::error(component, "couldn't make a folder for arriving files in " + base.string());
        return;
    }
    s.folder = pattern;
    s.onFile = onFile;
    s.running = true;
    s.serviceFailing = false;
    s.reportedRefusals.clear();
    const auto generation = ++s.generation;
    s.queue->async([weak = std::weak_ptr<State>(state_), generation] {
        if (auto state = weak.lock()) state->poll(generation);
    });
}

void USBHub::stop() {
    auto& s = *state_;
    std::map<std::uint32_t, std::shared_ptr<USBDeviceLink>> links;
    std::filesystem::path folder;
    {
        std::lock_guard lock(s.mutex);
        if (!s.running) return;
        s.running = false;
        ++s.generation;
        links.swap(s.links);
        folder = s.folder;
        s.folder.clear();
    }
    for (auto& [id, link] : links) link->close();
    // After any file being handed over right now: that block runs first and cleans up after itself.
    s.queue->async([folder] {
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    });
}

void USBHub::State::schedulePoll(std::uint64_t forGeneration, double delay) {
    queue->asyncAfter(delay, [weak = weak_from_this(), forGeneration] {
        if (auto state = weak.lock()) state->poll(forGeneration);
    });
}

void USBHub::State::poll(std::uint64_t forGeneration) {
    {
        std::lock_guard lock(mutex);
        if (!isCurrent(forGeneration)) return;
    }
    auto devices = usb_mux::attachedDevices();

    std::vector<std::shared_ptr<USBDeviceLink>> ended;
    std::vector<usb_mux::Device> fresh;
    {
        std::lock_guard lock(mutex);
        if (!isCurrent(forGeneration)) return;
        ++counters.polls;
        if (!devices) {
            ++counters.failedPolls;
            // Absent or confused service: keep polling at the usual pace, say so once.
            if (!serviceFailing) log::info(component, "the USB multiplexing service does not answer");
            serviceFailing = true;
        } else {
            serviceFailing = false;
            std::set<std::uint32_t> attached;
            for (const auto& device : *devices) attached.insert(device.handle);
            for (auto it = links.begin(); it != links.end();) {
                if (it->second->isClosed() || !attached.count(it->first)) {
                    if (it->second->isClosed() && !it->second->isAuthenticated() &&
                        reportedRefusals.insert(it->first).second) {
                        log::info(component, "device " + std::to_string(it->first) + " gets no transfers");
                    }
                    ended.push_back(it->second);
                    it = links.erase(it);
                } else {
                    ++it;
                }
            }
            for (const auto& device : *devices) {
                if (!links.count(device.handle)) fresh.push_back(device);
            }
        }
    }
    for (auto& link : ended) link->close();

    for (const auto& device : fresh) {
        const int fd = usb_mux::connect(device.handle, options.port);
        if (fd < 0) continue;  // the camera is not listening; the next poll tries again
        std::lock_guard lock(mutex);
        if (!isCurrent(forGeneration)) {
            ::close(fd);
            return;
        }
        auto link = std::make_shared<USBDeviceLink>(
            device.handle, fd, keychain, folder,
            [weak = weak_from_this()](const std::shared_ptr<USBDeviceLink>& from, USBDeviceLink::ReceivedFile file) {
                if (auto state = weak.lock()) {
                    state->deliver(from, std::move(file));
                } else {
                    std::error_code ec;
                    std::filesystem::remove(file.file, ec);
                }
            });
        links[device.handle] = link;
        link->start();
    }
    schedulePoll(forGeneration, options.pollInterval);
}

void USBHub::State::deliver(const std::shared_ptr<USBDeviceLink>& link, USBDeviceLink::ReceivedFile file) {
    queue->async([weak = weak_from_this(), link, file = std::move(file)] {
        FileHandler handler;
        if (auto state = weak.lock()) {
            std::lock_guard lock(state->mutex);
            if (state->running && !link->isClosed()) handler = state->onFile;
        }
        bool ok = false;
        if (handler) {
            try {
                handler(file.file, file.info, file.cameraName);
                ok = true;
            } catch (const std::exception& e) {
                log::error(component, std::string("a file from ") + file.cameraName + " was not taken: " + e.what());
            }
        }
        std::error_code ec;
        std::filesystem::remove(file.file, ec);
        // Without a taker the camera keeps the file and sends it again later.
        link->acknowledge(file.info.id, ok);
    });
}

}  // namespace morvane
