#include "scripted_camera.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <random>

#include <unistd.h>

#include "platform/h264_compression_session.h"

#include "platform/keychain.h"
#include "protocol/live_packets.h"
#include "protocol/message_codec.h"

extern "C" {
#include <libavutil/frame.h>
}

namespace morvane::screens {

void useLoopbackDiscovery() {
    std::random_device device;
    std::mt19937 random(device() ^ static_cast<unsigned>(::getpid()));
    const std::string group =
        "239.255." + std::to_string(100 + random() % 100) + "." + std::to_string(1 + random() % 250);
    ::setenv("MORVANE_TEST_LOOPBACK_ONLY", "1", 1);
    ::setenv("MORVANE_NEARBY_GROUP", group.c_str(), 1);
    ::setenv("MORVANE_NEARBY_PORT", std::to_string(40000 + random() % 20000).c_str(), 1);
}

void keepToFolder(const std::string& base) {
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
        ::setenv(name, (base + "/" + name).c_str(), 1);
    ::setenv("USBMUXD_SOCKET_ADDRESS", ("UNIX:" + base + "/no-usbmuxd").c_str(), 1);
    useLoopbackDiscovery();
}

ScriptedCamera::ScriptedCamera(Options options)
    : options_(std::move(options)), main_(std::make_shared<DispatchQueue>("screens.camera-main")) {
    status_ = options_.status;
    PeerSession::Options session;
    session.keychain = std::make_shared<Keychain>(options_.folder / "keychain");
    session.keychain->write("device-name", Bytes(options_.name.begin(), options_.name.end()));
    session.mainExecutor = main_;
    session.interfaces = {"127.0.0.1"};
    session.temporaryFolder = options_.folder / "incoming";
    session.timing.announceInterval = 0.3;
    session.timing.announceBurstInterval = 0.05;
    session_ = PeerSession::create(PeerSession::Role::camera, true, 1, "morvane", session);
    session_->onData = [this](const Bytes& packet, const PeerId& peer) {
        {
            std::lock_guard lock(mutex_);
            monitor_ = peer;
        }
        if (packetKind(packet) == PacketType::keyframeRequest) keyframeWanted_ = true;
    };
    session_->onPairingRequest = [this](const std::optional<PeerSession::PairingRequest>& request) {
        std::lock_guard lock(mutex_);
        if (request) request_ = request;
    };
    session_->onPeersChanged = [this](const std::vector<PeerSession::Peer>& peers) {
        std::lock_guard lock(mutex_);
        if (!peers.empty()) monitor_ = peers.front().id;
    };
    main_->sync([this] { session_->start(); });
}

ScriptedCamera::~ScriptedCamera() {
    stopStreaming();
    main_->sync([this] { session_->stop(); });
    session_->onData = nullptr;
    session_->onPairingRequest = nullptr;
    session_->onPeersChanged = nullptr;
}

std::optional<PeerSession::PairingRequest> ScriptedCamera::pairingRequest() const {
    std::lock_guard lock(mutex_);
    return request_;
}

void ScriptedCamera::acceptPairing() {
    const auto request = pairingRequest();
    if (!request) return;
    main_->sync([&] { session_->acceptPairing(request->id); });
}

std::optional<PeerId> ScriptedCamera::monitor() const {
    std::lock_guard lock(mutex_);
    return monitor_;
}

void ScriptedCamera::setStatus(const CameraStatus& status) {
    {
        std::lock_guard lock(mutex_);
        status_ = status;
    }
    if (auto packet = encodeMessage(PacketType::status, status)) send(*packet);
}

void ScriptedCamera::startStreaming() {
    if (streaming_.exchange(true)) return;
    thread_ = std::thread([this] { stream(); });
}

void ScriptedCamera::stopStreaming() {
    streaming_ = false;
    if (thread_.joinable()) thread_.join();
}

void ScriptedCamera::send(const Bytes& packet) {
    const auto peer = monitor();
    if (!peer) return;
    session_->queue().sync([&] { session_->send(packet, *peer); });
}

namespace {

/// Vertical stripes of full white and near black, 12 pixels each, without colour.
void stripe(AVFrame& frame) {
    for (int y = 0; y < frame.height; ++y) {
        std::uint8_t* row = frame.data[0] + static_cast<std::ptrdiff_t>(y) * frame.linesize[0];
        for (int x = 0; x < frame.width; ++x) row[x] = (x / 12) % 2 ? 235 : 24;
    }
    for (int plane = 1; plane < 3; ++plane)
        for (int y = 0; y < frame.height / 2; ++y)
            std::memset(frame.data[plane] + static_cast<std::ptrdiff_t>(y) * frame.linesize[plane], 128,
                        static_cast<std::size_t>(frame.width / 2));
}

/// Near white with a faint gradient, without colour.
void brighten(AVFrame& frame) {
    for (int y = 0; y < frame.height; ++y) {
        std::uint8_t* row = frame.data[0] + static_cast<std::ptrdiff_t>(y) * frame.linesize[0];
        for (int x = 0; x < frame.width; ++x) row[x] = static_cast<std::uint8_t>(225 + 10 * x / frame.width);
    }
    for (int plane = 1; plane < 3; ++plane)
        for (int y = 0; y < frame.height / 2; ++y)
            std::memset(frame.data[plane] + static_cast<std::ptrdiff_t>(y) * frame.linesize[plane], 128,
                        static_cast<std::size_t>(frame.width / 2));
}

}  // namespace

void ScriptedCamera::stream() {
    H264CompressionSession::Settings settings;
    settings.width = options_.width;
    settings.height = options_.height;
    settings.framesPerSecond = options_.framesPerSecond;
    settings.bitRate = options_.bitRate;
    settings.keyframeInterval = options_.framesPerSecond * 2;
    auto encoder = H264CompressionSession::make(settings);
    if (!encoder) return;
    using Clock = std::chrono::steady_clock;
    const auto interval = std::chrono::nanoseconds(1'000'000'000LL / options_.framesPerSecond);
    auto next = Clock::now();
    auto nextStatus = Clock::now();
    std::uint32_t number = 1;
    for (int index = 0; streaming_.load(); ++index) {
        if (Clock::now() >= nextStatus) {
            CameraStatus status;
            {
                std::lock_guard lock(mutex_);
                status = status_;
            }
            if (auto packet = encodeMessage(PacketType::status, status)) send(*packet);
            nextStatus += std::chrono::seconds(2);
        }
        auto picture = encoder->makeTestPicture(index);
        if (picture && striped_.load()) stripe(*picture);
        if (picture && bright_.load()) brighten(*picture);
        auto out = encoder->encode(*picture, keyframeWanted_.exchange(false));
        if (out) {
            if (out->isKeyframe) {
                std::vector<Bytes> sets(out->parameterSets.begin(), out->parameterSets.end());
                if (auto packet = ParameterSetsPacket{std::move(sets)}.encode()) send(*packet);
            }
            send(FramePacket::encode(number++, out->isKeyframe, 0, out->accessUnit));
            ++framesSent_;
        }
        next += interval;
        const auto now = Clock::now();
        if (next > now) {
            std::this_thread::sleep_until(next);
        } else if (now - next > interval * 5) {
            next = now;  // fell behind: do not burst to catch up
        }
    }
}

}  // namespace morvane::screens
