// The camera set: receivers, the feed list in the user's order, selection,
// pairing answers and repair.

#include <algorithm>
#include <set>

#include "monitor_controller_tables.h"
#include "platform/defaults.h"
#include "remote/monitor_controller.h"
#include "remote/video_receiver.h"

namespace morvane {

std::shared_ptr<VideoReceiver> MonitorController::makeReceiver(const PeerId& peer) {
    auto receiver = env_.makeReceiver();
    std::weak_ptr<CameraLink> link = peers_;
    receiver->setSendToCamera([link, peer](const Bytes& packet) {
        if (auto strong = link.lock()) strong->sendTo(packet, peer);
    });
    return receiver;
}

void MonitorController::registerReceiver(const PeerId& peer) {
    auto receiver = makeReceiver(peer);
    std::lock_guard lock(receiversLock_);
    receivers_[peer] = std::move(receiver);
}

std::shared_ptr<VideoReceiver> MonitorController::createReceiver(const PeerId& peer, const std::string&) {
    // The caller holds receiversLock_.
    auto receiver = makeReceiver(peer);
    receivers_[peer] = receiver;
    return receiver;
}

void MonitorController::peerDisconnected(const PeerId& peer) {
    std::lock_guard lock(receiversLock_);
    receivers_.erase(peer);
}

namespace {

/// A camera's lasting identity: its key, or for a peer without one its peer identity, which lasts one connection.
std::string identityOf(const MonitorController::Peer& peer) {
    return peer.key.empty() ? "peer " + peer.id.text() : base64Encode(peer.key);
}

}  // namespace

void MonitorController::updatePeers(const std::vector<Peer>& peers) {
    peerList_ = peers;
    {
        std::lock_guard lock(receiversLock_);
        cameraNames_.clear();
        for (const auto& peer : peers) cameraNames_[peer.id] = peer.name;
    }
    std::set<PeerId> current;
    std::set<std::string> present;
    for (const auto& peer : peers) {
        current.insert(peer.id);
        present.insert(identityOf(peer));
    }
    // A camera being reconnected keeps its feed and so its place on the screen, until it is back: under the same
    // session, or under a new one when it started again (that feed then takes the place).
    std::erase_if(reconnecting_, [&](const auto& lost) {
        return current.count(lost.first) || present.count(lost.second.identity) || !feed(lost.first);
    });
    auto stays = [&](const FeedPtr& feed) { return current.count(feed->id()) || reconnecting_.count(feed->id()); };

    for (const auto& feed : feeds_) {
        if (stays(feed)) continue;
        if (feed->receiver()) feed->receiver()->reset();
        feed->failAllPreviewWaiters();
    }

    std::vector<FeedPtr> kept;
    for (const auto& feed : feeds_)
        if (stays(feed)) kept.push_back(feed);

    std::vector<std::shared_ptr<VideoReceiver>> replaced;
    {
        std::lock_guard lock(receiversLock_);
        for (auto& feed : kept) {
            auto found = receivers_.find(feed->id());
            if (found == receivers_.end() || found->second == feed->receiver()) continue;
            replaced.push_back(feed->receiver());
            feed = CameraFeed::create(feed->id(), feed->name(), found->second);
        }
        for (const auto& peer : peers) {
            const bool known =
                std::any_of(kept.begin(), kept.end(), [&](const FeedPtr& f) { return f->id() == peer.id; });
            if (known) continue;
            auto found = receivers_.find(peer.id);
            auto receiver = found != receivers_.end() ? found->second : createReceiver(peer.id, peer.name);
            kept.push_back(CameraFeed::create(peer.id, peer.name, receiver));
        }
    }
    // Reset outside the lock: a receiver's reset does not need the controller's
    // tables.
    for (const auto& receiver : replaced)
        if (receiver) receiver->reset();

    // The user's order by name; unlisted names after every listed one, ties
    // keeping their order. Cameras new to this run are numbered in that order,
    // then the feeds follow the numbers.
    auto rank = [this](const FeedPtr& feed) {
        auto found = std::find(cameraOrder_.begin(), cameraOrder_.end(), feed->name());
        return found == cameraOrder_.end() ? cameraOrder_.size()
                                           : static_cast<std::size_t>(found - cameraOrder_.begin());
    };
    std::stable_sort(kept.begin(), kept.end(), [&](const FeedPtr& a, const FeedPtr& b) { return rank(a) < rank(b); });
    numberCameras(kept, peers);
    std::stable_sort(kept.begin(), kept.end(),
                     [&](const FeedPtr& a, const FeedPtr& b) { return cameraNumber(a->id()) < cameraNumber(b->id()); });
    for (const auto& feed : kept) feed->setReconnecting(reconnecting_.count(feed->id()) > 0);
    feeds_ = std::move(kept);
    emit feedsChanged();
    if (feeds_.size() >= 2) {
        notices_.nameCameras();
        setMessage(notices_.text());
    }

    updateStreamQuality();
    followSelection();
    if (soloID_ && !feed(*soloID_)) {
        soloID_.reset();
        emit soloIDChanged();
        updateStreamQuality();
    }
    std::erase_if(silentSeconds_, [&](const auto& entry) { return !current.count(entry.first); });
    std::erase_if(repairRequested_, [&](const PeerId& id) { return !current.count(id); });
}

void MonitorController::followSelection() {
    std::optional<PeerId> chosen;
    if (selectedIdentity_) {
        for (const auto& feed : feeds_)
            if (identities_.at(feed->id()).identity == *selectedIdentity_) chosen = feed->id();
    }
    if (!chosen) chosen = selectedID_ && feed(*selectedID_) ? selectedID_ : std::nullopt;
    if (!chosen && !feeds_.empty()) chosen = feeds_.front()->id();
    // The first camera selected for the user is theirs until they choose another; one selected only while theirs is
    // away gives way when it is back.
    if (!selectedIdentity_ && chosen) selectedIdentity_ = identities_.at(*chosen).identity;
    if (selectedID_ == chosen) return;
    selectedID_ = chosen;
    emit selectedIDChanged();
}

void MonitorController::giveUpCamerasNotNearby() {
    const auto nearby = [this](const PeerId& id) {
        return std::any_of(nearbyCameras_.begin(), nearbyCameras_.end(),
                           [&](const NearbyCamera& camera) { return camera.id == id; });
    };
    if (std::erase_if(reconnecting_, [&](const auto& lost) { return !nearby(lost.first); }) > 0) updatePeers(peerList_);
}

void MonitorController::numberCameras(const std::vector<FeedPtr>& feeds, const std::vector<Peer>& peers) {
    identities_.clear();
    for (const auto& peer : peers)
        identities_.emplace(peer.id, CameraNumbering::Camera{identityOf(peer), !peer.key.empty()});
    for (const auto& [id, camera] : reconnecting_) identities_.emplace(id, camera);
    std::vector<CameraNumbering::Camera> connected;
    for (const auto& feed : feeds) connected.push_back(identities_.at(feed->id()));
    const auto numbers = numbering_.numbersFor(connected);
    cameraNumbers_.clear();
    for (std::size_t i = 0; i < feeds.size(); ++i) cameraNumbers_[feeds[i]->id()] = numbers[i];
    storeCameraNumbers();
}

void MonitorController::storeCameraNumbers() {
    nlohmann::json stored = nlohmann::json::object();
    for (const auto& [identity, number] : numbering_.stored()) stored[identity] = number;
    const auto current = env_.defaults->value(cameraNumbersKey);
    if (!current || *current != stored) env_.defaults->setValue(cameraNumbersKey, stored);
}

int MonitorController::cameraNumber(const PeerId& peer) const {
    auto found = cameraNumbers_.find(peer);
    return found == cameraNumbers_.end() ? 0 : found->second;
}

std::vector<MonitorController::FeedPtr> MonitorController::visibleFeeds() const {
    if (soloID_)
        for (const auto& feed : feeds_)
            if (feed->id() == *soloID_) return {feed};
    return feeds_;
}

MonitorController::FeedPtr MonitorController::selectedFeed() const {
    if (selectedID_)
        for (const auto& feed : feeds_)
            if (feed->id() == *selectedID_) return feed;
    return feeds_.empty() ? nullptr : feeds_.front();
}

MonitorController::FeedPtr MonitorController::feed(const PeerId& peer) const {
    for (const auto& feed : feeds_)
        if (feed->id() == peer) return feed;
    return nullptr;
}

void MonitorController::moveCamera(const std::string& name, const CameraFeed& target) {
    auto from = std::find_if(feeds_.begin(), feeds_.end(), [&](const FeedPtr& f) { return f->name() == name; });
    if (from == feeds_.end()) return;
    auto to = std::find_if(feeds_.begin(), feeds_.end(), [&](const FeedPtr& f) { return f->id() == target.id(); });
    if (to == feeds_.end() || from == to) return;
    const auto toIndex = to - feeds_.begin();
    auto moving = *from;
    feeds_.erase(from);
    feeds_.insert(feeds_.begin() + std::min<std::ptrdiff_t>(toIndex, static_cast<std::ptrdiff_t>(feeds_.size())),
                  moving);
    // The cameras' numbers go with the places: the first place keeps the lowest.
    std::vector<int> numbers;
    for (const auto& feed : feeds_) numbers.push_back(cameraNumber(feed->id()));
    std::sort(numbers.begin(), numbers.end());
    for (std::size_t i = 0; i < feeds_.size(); ++i) {
        cameraNumbers_[feeds_[i]->id()] = numbers[i];
        numbering_.give(identities_.at(feeds_[i]->id()), numbers[i]);
    }
    storeCameraNumbers();
    emit feedsChanged();

    std::vector<std::string> order;
    for (const auto& feed : feeds_) order.push_back(feed->name());
    for (const auto& old : cameraOrder_)
        if (std::none_of(feeds_.begin(), feeds_.end(), [&](const FeedPtr& f) { return f->name() == old; }))
            order.push_back(old);
    cameraOrder_ = std::move(order);
    env_.defaults->set(cameraOrderKey, cameraOrder_);
}

namespace {

constexpr const char* lostNoticeKey = "lost";

// "A", "A and B", "A, B and C".
std::string listed(const std::vector<std::string>& names) {
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i) text += i + 1 == names.size() ? " and " : ", ";
        text += names[i];
    }
    return text;
}

}  // namespace

void MonitorController::peerLost(const Peer& peer, bool reconnecting) {
    if (reconnecting && feed(peer.id)) reconnecting_[peer.id] = {identityOf(peer), !peer.key.empty()};
    // Cameras lost while the notice still shows are named in it together.
    if (!notices_.holds(lostNoticeKey)) lostCameras_.clear();
    const std::string name = peer.name.empty() ? "Camera" : peer.name;
    std::erase_if(lostCameras_, [&](const auto& lost) { return lost.first == name; });
    lostCameras_.emplace_back(name, reconnecting);
    std::vector<std::string> all, coming;
    for (const auto& [lostName, again] : lostCameras_) {
        all.push_back(lostName);
        if (again) coming.push_back(lostName);
    }
    std::string text = "Lost the link to " + listed(all);
    if (coming.size() == all.size())
        text += " · reconnecting…";
    else if (!coming.empty())
        text += " · reconnecting " + listed(coming) + "…";
    showNotice(text, lostNoticeKey);
}

void MonitorController::acceptPairing() {
    if (pairingRequest_) {
        peers_->acceptPairing(pairingRequest_->id);
        showMessage("Waiting for the camera to accept…");
    }
    pairingRequest_.reset();
    emit pairingRequestChanged();
}

void MonitorController::cancelPairing() {
    if (pairingRequest_) peers_->cancelPairing(pairingRequest_->id);
    pairingRequest_.reset();
    emit pairingRequestChanged();
}

void MonitorController::disconnectCamera(const PeerId& peer) {
    if (peers_) peers_->disconnectCamera(peer);
    if (reconnecting_.erase(peer)) updatePeers(peerList_);
}

void MonitorController::repairConnection(CameraFeed& feed) {
    repairRequested_.insert(feed.id());
    showMessage("Repairing " + feed.name() + "…");
    restartVideo(feed);
    silentSeconds_[feed.id()] = 6;
}

}  // namespace morvane
