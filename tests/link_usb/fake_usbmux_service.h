#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace morvane::test {

/// A stand-in for the USB multiplexing daemon on a private Unix socket. It speaks the daemon's plist protocol
/// (16-byte little-endian header, XML plist body; ListDevices, Listen with Attached/Detached, Connect with the port
/// in network byte order, Result), and "connects" to a phone's port by forwarding to a TCP port on 127.0.0.1.
class FakeUsbmuxService {
public:
    enum class Mode {
        normal,
        garbage,      // a plist header followed by bytes that are no plist
        notADict,     // a well-formed plist that is an array
        errorResult,  // Result 1 (bad command) to everything
        hangUp,       // closes the connection without a word
    };

    FakeUsbmuxService(std::filesystem::path socketPath, std::uint16_t devicePort);
    ~FakeUsbmuxService();

    bool start();
    void stop();
    /// The value for USBMUXD_SOCKET_ADDRESS.
    std::string address() const { return "UNIX:" + socketPath_.string(); }

    /// A phone on the cable; its link port is forwarded to `targetPort` on 127.0.0.1.
    void attach(std::uint32_t deviceId, const std::string& serial, std::uint16_t targetPort);
    /// The cable is pulled: listeners hear of it and every stream to the phone is cut.
    void detach(std::uint32_t deviceId);
    /// Limits every stream to the phone to about this many bytes a second (0: no limit).
    void throttle(std::uint32_t deviceId, std::uint64_t bytesPerSecond);

    void setMode(Mode mode) { mode_ = mode; }

    /// Requests by message type ("ListDevices", "Listen", "Connect", ...), and all of them.
    int requests(const std::string& type) const;
    int totalRequests() const;
    /// Streams to the phone that are open now.
    int openStreams(std::uint32_t deviceId) const;
    /// Connect requests whose port was not the phone's link port in network byte order.
    int badPortRequests() const { return badPorts_.load(); }

private:
    struct Device {
        std::string serial;
        std::uint16_t targetPort = 0;
        std::uint64_t bytesPerSecond = 0;
    };
    struct Stream {
        std::uint32_t deviceId = 0;
        int client = -1;
        int target = -1;
        std::atomic<bool> done{false};
    };

    void acceptLoop();
    void serveClient(int fd);
    void forward(const std::shared_ptr<Stream>& stream);
    std::uint64_t rateOf(std::uint32_t deviceId) const;
    bool sendPlist(int fd, std::uint32_t tag, void* plist);
    void sendResult(int fd, std::uint32_t tag, std::uint64_t number);
    void* attachedMessage(std::uint32_t deviceId, const Device& device) const;

    std::filesystem::path socketPath_;
    std::uint16_t devicePort_;
    std::atomic<Mode> mode_{Mode::normal};
    int listenFd_ = -1;
    int wakeFd_ = -1;
    std::thread acceptThread_;

    mutable std::mutex mutex_;
    std::map<std::uint32_t, Device> devices_;
    std::map<std::string, int> requests_;
    std::vector<int> listeners_;
    std::list<std::shared_ptr<Stream>> streams_;
    std::vector<int> clients_;
    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> finished;
    };
    std::list<Worker> threads_;
    std::atomic<int> badPorts_{0};
    bool stopping_ = false;
};

}  // namespace morvane::test
