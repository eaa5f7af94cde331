#include "fake_usbmux_service.h"

#include <plist/plist.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace morvane::test {

namespace {

constexpr std::uint32_t plistMessage = 8;
constexpr std::uint64_t resultOk = 0;
constexpr std::uint64_t resultBadCommand = 1;
constexpr std::uint64_t resultBadDevice = 2;
constexpr std::uint64_t resultRefused = 3;

struct Header {
    std::uint32_t length;
    std::uint32_t version;
    std::uint32_t message;
    std::uint32_t tag;
};
static_assert(sizeof(Header) == 16);

bool readExact(int fd, void* into, std::size_t size) {
    auto* p = static_cast<std::uint8_t*>(into);
    while (size > 0) {
        const ssize_t n = ::recv(fd, p, size, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool writeExact(int fd, const void* from, std::size_t size) {
    const auto* p = static_cast<const std::uint8_t*>(from);
    while (size > 0) {
        const ssize_t n = ::send(fd, p, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Header fields travel in the host's (little-endian) order, as the daemon writes them.
bool sendFrame(int fd, std::uint32_t tag, const char* body, std::uint32_t size) {
    Header header{static_cast<std::uint32_t>(sizeof(Header) + size), 1, plistMessage, tag};
    return writeExact(fd, &header, sizeof header) && writeExact(fd, body, size);
}

std::string stringValue(plist_t dict, const char* key) {
    plist_t node = plist_dict_get_item(dict, key);
    if (!node || plist_get_node_type(node) != PLIST_STRING) return {};
    char* value = nullptr;
    plist_get_string_val(node, &value);
    std::string out = value ? value : "";
    std::free(value);
    return out;
}

std::optional<std::uint64_t> uintValue(plist_t dict, const char* key) {
    plist_t node = plist_dict_get_item(dict, key);
    if (!node || plist_get_node_type(node) != PLIST_UINT) return std::nullopt;
    std::uint64_t value = 0;
    plist_get_uint_val(node, &value);
    return value;
}

}  // namespace

FakeUsbmuxService::FakeUsbmuxService(std::filesystem::path socketPath, std::uint16_t devicePort)
    : socketPath_(std::move(socketPath)), devicePort_(devicePort) {}

FakeUsbmuxService::~FakeUsbmuxService() {
    stop();
}

bool FakeUsbmuxService::start() {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = socketPath_.string();
    if (path.size() >= sizeof(address.sun_path)) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) return false;
    ::unlink(path.c_str());
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listenFd_, 16) != 0) {
        ::close(listenFd_);
        listenFd_ = -1;
        return false;
    }
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC);
    acceptThread_ = std::thread([this] { acceptLoop(); });
    return true;
}

void FakeUsbmuxService::stop() {
    if (listenFd_ < 0) return;
    std::list<Worker> threads;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        for (int fd : clients_) ::shutdown(fd, SHUT_RDWR);
        for (auto& stream : streams_) {
            stream->done = true;
            ::shutdown(stream->client, SHUT_RDWR);
            ::shutdown(stream->target, SHUT_RDWR);
        }
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(wakeFd_, &one, sizeof one);
    acceptThread_.join();
    {
        std::lock_guard lock(mutex_);
        threads.swap(threads_);
    }
    for (auto& worker : threads) worker.thread.join();
    ::close(listenFd_);
    ::close(wakeFd_);
    listenFd_ = wakeFd_ = -1;
    ::unlink(socketPath_.c_str());
}

void FakeUsbmuxService::acceptLoop() {
    for (;;) {
        pollfd pfds[2] = {{listenFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        if (::poll(pfds, 2, -1) < 0 && errno != EINTR) return;
        if (pfds[1].revents & POLLIN) return;
        if (!(pfds[0].revents & POLLIN)) continue;
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        std::list<Worker> finished;
        {
            std::lock_guard lock(mutex_);
            if (stopping_) {
                ::close(fd);
                return;
            }
            for (auto it = threads_.begin(); it != threads_.end();) {
                auto next = std::next(it);
                if (it->finished->load()) finished.splice(finished.end(), threads_, it);
                it = next;
            }
            clients_.push_back(fd);
            auto flag = std::make_shared<std::atomic<bool>>(false);
            threads_.push_back(Worker{std::thread([this, fd, flag] {
                                          serveClient(fd);
                                          *flag = true;
                                      }),
                                      flag});
        }
        for (auto& worker : finished) worker.thread.join();
    }
}

void* FakeUsbmuxService::attachedMessage(std::uint32_t deviceId, const Device& device) const {
    plist_t properties = plist_new_dict();
    plist_dict_set_item(properties, "ConnectionSpeed", plist_new_uint(480000000));
    plist_dict_set_item(properties, "ConnectionType", plist_new_string("USB"));
    plist_dict_set_item(properties, "DeviceID", plist_new_uint(deviceId));
    plist_dict_set_item(properties, "LocationID", plist_new_uint(0x14100000u + deviceId));
    plist_dict_set_item(properties, "ProductID", plist_new_uint(0x12a8));
    plist_dict_set_item(properties, "SerialNumber", plist_new_string(device.serial.c_str()));
    plist_t message = plist_new_dict();
    plist_dict_set_item(message, "DeviceID", plist_new_uint(deviceId));
    plist_dict_set_item(message, "MessageType", plist_new_string("Attached"));
    plist_dict_set_item(message, "Properties", properties);
    return message;
}

bool FakeUsbmuxService::sendPlist(int fd, std::uint32_t tag, void* plist) {
    char* xml = nullptr;
    std::uint32_t size = 0;
    plist_to_xml(static_cast<plist_t>(plist), &xml, &size);
    const bool sent = xml && sendFrame(fd, tag, xml, size);
    if (xml) plist_to_xml_free(xml);
    plist_free(static_cast<plist_t>(plist));
    return sent;
}

void FakeUsbmuxService::sendResult(int fd, std::uint32_t tag, std::uint64_t number) {
    plist_t result = plist_new_dict();
    plist_dict_set_item(result, "MessageType", plist_new_string("Result"));
    plist_dict_set_item(result, "Number", plist_new_uint(number));
    sendPlist(fd, tag, result);
}

void FakeUsbmuxService::serveClient(int fd) {
    auto forget = [&] {
        std::lock_guard lock(mutex_);
        clients_.erase(std::remove(clients_.begin(), clients_.end(), fd), clients_.end());
        listeners_.erase(std::remove(listeners_.begin(), listeners_.end(), fd), listeners_.end());
        ::close(fd);
    };
    for (;;) {
        Header header{};
        if (!readExact(fd, &header, sizeof header) || header.length < sizeof header || header.length > (1u << 20)) {
            break;
        }
        std::string body(header.length - sizeof header, '\0');
        if (!readExact(fd, body.data(), body.size())) break;

        plist_t request = nullptr;
        if (header.message == plistMessage)
            plist_from_xml(body.data(), static_cast<std::uint32_t>(body.size()), &request);
        const std::string type =
            request && plist_get_node_type(request) == PLIST_DICT ? stringValue(request, "MessageType") : "";
        {
            std::lock_guard lock(mutex_);
            ++requests_[type.empty() ? "?" : type];
        }
        const Mode mode = mode_.load();
        auto done = [&] {
            if (request) plist_free(request);
        };
        if (mode == Mode::hangUp) {
            done();
            break;
        }
        if (mode == Mode::garbage) {
            const std::string junk(64, '\xAB');
            sendFrame(fd, header.tag, junk.data(), static_cast<std::uint32_t>(junk.size()));
            done();
            continue;
        }
        if (mode == Mode::notADict) {
            plist_t array = plist_new_array();
            plist_array_append_item(array, plist_new_string("Result"));
            sendPlist(fd, header.tag, array);
            done();
            continue;
        }
        if (mode == Mode::errorResult || type.empty()) {
            sendResult(fd, header.tag, resultBadCommand);
            done();
            continue;
        }

        if (type == "ListDevices") {
            plist_t list = plist_new_array();
            {
                std::lock_guard lock(mutex_);
                for (const auto& [id, device] : devices_) {
                    plist_array_append_item(list, static_cast<plist_t>(attachedMessage(id, device)));
                }
            }
            plist_t reply = plist_new_dict();
            plist_dict_set_item(reply, "DeviceList", list);
            sendPlist(fd, header.tag, reply);
        } else if (type == "Listen") {
            {
                std::lock_guard lock(mutex_);
                sendResult(fd, header.tag, resultOk);
                for (const auto& [id, device] : devices_) sendPlist(fd, 0, attachedMessage(id, device));
                listeners_.push_back(fd);
            }
            // Events go out from attach and detach; here we only wait for the client to leave.
            char ignored[256];
            while (::recv(fd, ignored, sizeof ignored, 0) > 0) {
            }
            done();
            break;
        } else if (type == "Connect") {
            const auto deviceId = uintValue(request, "DeviceID");
            const auto portNumber = uintValue(request, "PortNumber");
            std::optional<Device> device;
            {
                std::lock_guard lock(mutex_);
                if (deviceId && devices_.count(static_cast<std::uint32_t>(*deviceId))) {
                    device = devices_[static_cast<std::uint32_t>(*deviceId)];
                }
            }
            done();
            if (!device) {
                sendResult(fd, header.tag, resultBadDevice);
                continue;
            }
            if (!portNumber || *portNumber != htons(devicePort_)) {
                ++badPorts_;
                sendResult(fd, header.tag, resultRefused);
                continue;
            }
            const int target = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_port = htons(device->targetPort);
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (target < 0 || ::connect(target, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
                if (target >= 0) ::close(target);
                sendResult(fd, header.tag, resultRefused);
                continue;
            }
            auto stream = std::make_shared<Stream>();
            stream->deviceId = static_cast<std::uint32_t>(*deviceId);
            stream->client = fd;
            stream->target = target;
            {
                std::lock_guard lock(mutex_);
                clients_.erase(std::remove(clients_.begin(), clients_.end(), fd), clients_.end());
                if (stopping_ || !devices_.count(stream->deviceId)) {
                    ::close(target);
                    ::close(fd);
                    return;
                }
                streams_.push_back(stream);
            }
            sendResult(fd, header.tag, resultOk);
            forward(stream);
            return;
        } else {
            sendResult(fd, header.tag, resultBadCommand);
        }
        done();
    }
    forget();
}

std::uint64_t FakeUsbmuxService::rateOf(std::uint32_t deviceId) const {
    std::lock_guard lock(mutex_);
    auto it = devices_.find(deviceId);
    return it == devices_.end() ? 0 : it->second.bytesPerSecond;
}

void FakeUsbmuxService::forward(const std::shared_ptr<Stream>& stream) {
    std::vector<char> buffer(256 * 1024);
    while (!stream->done) {
        const std::uint64_t rate = rateOf(stream->deviceId);
        const std::size_t chunk = rate ? std::min<std::size_t>(buffer.size(), 16 * 1024) : buffer.size();
        pollfd pfds[2] = {{stream->client, POLLIN, 0}, {stream->target, POLLIN, 0}};
        const int r = ::poll(pfds, 2, 50);
        if (r < 0 && errno != EINTR) break;
        if (r <= 0) continue;
        bool ended = false;
        for (int i = 0; i < 2 && !ended; ++i) {
            if (!(pfds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            const int from = i == 0 ? stream->client : stream->target;
            const int to = i == 0 ? stream->target : stream->client;
            const ssize_t n = ::recv(from, buffer.data(), chunk, 0);
            if (n <= 0 || !writeExact(to, buffer.data(), static_cast<std::size_t>(n))) {
                ended = true;
            } else if (rate) {
                std::this_thread::sleep_for(std::chrono::microseconds(static_cast<std::uint64_t>(n) * 1000000 / rate));
            }
        }
        if (ended) break;
    }
    std::lock_guard lock(mutex_);
    streams_.remove(stream);
    ::close(stream->client);
    ::close(stream->target);
}

void FakeUsbmuxService::attach(std::uint32_t deviceId, const std::string& serial, std::uint16_t targetPort) {
    std::lock_guard lock(mutex_);
    devices_[deviceId] = Device{serial, targetPort, 0};
    for (int fd : listeners_) sendPlist(fd, 0, attachedMessage(deviceId, devices_[deviceId]));
}

void FakeUsbmuxService::detach(std::uint32_t deviceId) {
    std::lock_guard lock(mutex_);
    if (!devices_.erase(deviceId)) return;
    for (int fd : listeners_) {
        plist_t message = plist_new_dict();
        plist_dict_set_item(message, "DeviceID", plist_new_uint(deviceId));
        plist_dict_set_item(message, "MessageType", plist_new_string("Detached"));
        sendPlist(fd, 0, message);
    }
    for (auto& stream : streams_) {
        if (stream->deviceId != deviceId) continue;
        stream->done = true;
        ::shutdown(stream->client, SHUT_RDWR);
        ::shutdown(stream->target, SHUT_RDWR);
    }
}

void FakeUsbmuxService::throttle(std::uint32_t deviceId, std::uint64_t bytesPerSecond) {
    std::lock_guard lock(mutex_);
    auto it = devices_.find(deviceId);
    if (it != devices_.end()) it->second.bytesPerSecond = bytesPerSecond;
}

int FakeUsbmuxService::requests(const std::string& type) const {
    std::lock_guard lock(mutex_);
    auto it = requests_.find(type);
    return it == requests_.end() ? 0 : it->second;
}

int FakeUsbmuxService::totalRequests() const {
    std::lock_guard lock(mutex_);
    int total = 0;
    for (const auto& [type, count] : requests_) total += count;
    return total;
}

int FakeUsbmuxService::openStreams(std::uint32_t deviceId) const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(
        std::count_if(streams_.begin(), streams_.end(), [&](const auto& s) { return s->deviceId == deviceId; }));
}

}  // namespace morvane::test
