// The controller as a whole: creation, settings, the shared link, start and
// stop, change handlers, messages.

#include "remote/monitor_controller.h"
#include "remote/voice_trigger.h"

#include <QCoreApplication>
#include <QStandardPaths>
#include <QThread>

#include "deck/retouch_library.h"
#include "link/usb_hub.h"
#include "monitor_controller_tables.h"
#include "platform/defaults.h"
#include "protocol/message_codec.h"
#include "qt_main_executor.h"
#include "remote/notification_hub.h"
#include "remote/video_receiver.h"
#include "shoot_library/shoot_library.h"

namespace morvane {

const QColor& accentAmber() {
    static const QColor color = QColor::fromRgbF(1.0f, 0.784f, 0.239f, 1.0f);
    return color;
}

namespace {

// The application-wide link and its scheduled stop; main thread only.
struct SharedLinkRecord {
    std::shared_ptr<CameraLink> session;
    std::shared_ptr<DispatchWorkItem> pendingStop;
};

SharedLinkRecord& sharedRecord() {
    static SharedLinkRecord record;
    return record;
}

MonitorController::Environment completed(MonitorController::Environment env) {
    if (!env.mainExecutor) env.mainExecutor = QtMainExecutor::shared();
    if (!env.now) env.now = [] { return Date::now(); };
    if (!env.defaults) env.defaults = &Defaults::standard();
    if (env.fallbackFolder.empty()) {
        auto data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation).toStdString();
        if (data.empty()) data = std::filesystem::temp_directory_path().string();
        env.fallbackFolder = std::filesystem::path(data) / "Unfiled captures";
    }
    if (!env.makeLink) {
        auto main = env.mainExecutor;
        // Captures arrive on the disk they are filed to, rather than on a temporary disk (often in memory) that a
        // long take does not fit on.
        const auto arriving =
            (env.shootLibrary ? *env.shootLibrary : ShootLibrary::shared()).defaultFolder() / ".incoming";
        env.makeLink = [main, arriving](int maxCameras) -> std::shared_ptr<CameraLink> {
            PeerSession::Options options;
            options.mainExecutor = main;
            options.temporaryFolder = arriving;
            return PeerSessionLink::makeMonitor(maxCameras, std::move(options));
        };
    }
    if (!env.makeUSBHub) env.makeUSBHub = [] { return std::make_shared<USBHub>(); };
    if (!env.makeReceiver) {
        auto main = env.mainExecutor;
        env.makeReceiver = [main] { return VideoReceiver::make(main); };
    }
    return env;
}

}  // namespace

MonitorController::StreamSetting MonitorController::streamSetting(bool shown, std::size_t shownCount) {
    if (!shown) return {1'000'000, 480};
    if (shownCount <= 1) return {4'000'000, 1280};
    if (shownCount == 2) return {3'000'000, 960};
    return {1'500'000, 720};
}

std::shared_ptr<MonitorController> MonitorController::create(int maxCameras, bool sharedLink,
                                                             std::function<double()> clockOffset,
                                                             Environment environment) {
    // The controller is a QObject of the main thread: whoever lets go of it last,
    // it is deleted there.
    return std::shared_ptr<MonitorController>(
        new MonitorController(maxCameras, sharedLink, std::move(clockOffset), completed(std::move(environment))),
        [](MonitorController* controller) {
            if (QThread::currentThread() == controller->thread())
                delete controller;
            else
                controller->deleteLater();
        });
}

namespace {

// The paired cameras' numbers of earlier runs; a number twice or out of reason is not taken.
std::map<std::string, int> storedCameraNumbers(const Defaults& defaults) {
    std::map<std::string, int> numbers;
    if (auto stored = defaults.value(MonitorController::cameraNumbersKey); stored && stored->is_object()) {
        std::set<int> used;
        for (const auto& [identity, number] : stored->items()) {
            if (!number.is_number_integer()) continue;
            const auto value = number.get<long long>();
            if (value < 1 || value > 99 || !used.insert(static_cast<int>(value)).second) continue;
            numbers[identity] = static_cast<int>(value);
        }
    }
    return numbers;
}

}  // namespace

MonitorController::MonitorController(int maxCameras, bool sharedLink, std::function<double()> clockOffset,
                                     Environment environment)
    : env_(std::move(environment)),
      cameraLimit_(maxCameras),
      clockOffset_(std::move(clockOffset)),
      incoming_(std::make_unique<IncomingTable>()),
      sharedLink_(sharedLink),
      numbering_(maxCameras, storedCameraNumbers(*env_.defaults)) {
    auto& defaults = *env_.defaults;
    livePictures_ = defaults.boolValue(livePicturesKey, true);
    collectsTakesAutomatically_ = defaults.boolValue(collectsTakesKey, true);
    showHistogram_ = defaults.boolValue(showHistogramKey, false);
    cameraOrder_ = defaults.stringList(cameraOrderKey, {});
    notices_.rememberDismissed(defaults.stringList(dismissedNoticesKey, {}));
    if (sharedLink_) {
        std::tie(peers_, adoptsLink_) = adoptSharedLink(maxCameras, env_);
    } else {
        peers_ = env_.makeLink(maxCameras);
        adoptsLink_ = false;
    }
}

MonitorController::~MonitorController() {
    keptQueue_.reset();
    if (statsTimer_) statsTimer_->store(false);
    // The listener's microphone thread must end here, not later from inside its own work.
    if (voice_) voice_->stop();
    if (deckEditObserver_) QObject::disconnect(deckEditObserver_);
}

bool MonitorController::importsFiles(const Defaults& defaults) {
    return defaults.boolValue(importsFilesKey, true);
}

bool MonitorController::importsFiles() const {
    return importsFiles(*env_.defaults);
}

bool MonitorController::takesCaptures() const {
    return importsFiles() && !collectsDeckCopies_;
}

double MonitorController::clockOffset() const {
    return clockOffset_ ? clockOffset_() : 0.0;
}

// MARK: The application-wide link

std::pair<std::shared_ptr<CameraLink>, bool> MonitorController::adoptSharedLink(int maxCameras,
                                                                                const Environment& environment) {
    auto& record = sharedRecord();
    if (record.pendingStop) record.pendingStop->cancel();
    record.pendingStop.reset();
    if (record.session) {
        record.session->setMaxCameras(maxCameras);
        return {record.session, record.session->isRunning()};
    }
    record.session = completed(environment).makeLink(maxCameras);
    return {record.session, false};
}

void MonitorController::releaseSharedLink(const std::shared_ptr<CameraLink>& link, const Environment& environment) {
    auto& record = sharedRecord();
    if (link && record.session == link) {
        if (record.pendingStop) record.pendingStop->cancel();
        record.pendingStop = std::make_shared<DispatchWorkItem>([] { stopSharedLink(); });
        environment.mainExecutor->asyncAfter(sharedLinkStopDelay, record.pendingStop);
    } else if (link) {
        link->stop();
    }
}

void MonitorController::stopSharedLink() {
    auto& record = sharedRecord();
    // Taken out first: stopping may call back into code that looks at the record.
    auto session = std::move(record.session);
    record.session.reset();
    record.pendingStop.reset();
    if (session) session->stop();
}

std::shared_ptr<CameraLink> MonitorController::sharedLinkNow() {
    return sharedRecord().session;
}

// MARK: Start and stop

void MonitorController::installPeerCallbacks() {
    std::weak_ptr<MonitorController> weak = weak_from_this();
    auto& link = *peers_;
    link.onPeerConnected = [weak](const PeerId& peer) {
        if (auto self = weak.lock()) self->registerReceiver(peer);
    };
    link.onPeerDisconnected = [weak](const PeerId& peer) {
        if (auto self = weak.lock()) self->peerDisconnected(peer);
    };
    link.onPeersChanged = [weak](const std::vector<Peer>& peers) {
        if (auto self = weak.lock()) self->updatePeers(peers);
    };
    // Installed whatever the setting says now: a camera sends files only when
    // told they are accepted, and a file that arrives must not be dropped on the
    // floor.
    link.onResource = [weak, env = env_](const std::filesystem::path& file, const std::string& name,
                                         const PeerId& peer) {
        if (auto self = weak.lock())
            self->receiveShootFile(file, name, peer);
        else
            receiveShootFile(env, file, name);
    };
    link.onNearbyChanged = [weak](const std::vector<NearbyCamera>& nearby) {
        if (auto self = weak.lock()) {
            self->nearbyCameras_ = nearby;
            emit self->nearbyCamerasChanged();
            self->giveUpCamerasNotNearby();
        }
    };
    link.onPairingRequest = [weak](const std::optional<PairingRequest>& request) {
        if (auto self = weak.lock()) {
            self->pairingRequest_ = request;
            emit self->pairingRequestChanged();
        }
    };
    link.onPeerLost = [weak](const Peer& peer, bool reconnecting) {
        if (auto self = weak.lock()) self->peerLost(peer, reconnecting);
    };
    link.onIssue = [weak](const std::string& text) {
        if (auto self = weak.lock()) self->showNotice(text);
    };
    link.onData = [weak](const Bytes& data, const PeerId& peer) {
        if (auto self = weak.lock()) self->handlePeerData(data, peer);
    };
}

void MonitorController::start() {
    if (sharedLink_) {
        // Shown again within the delay: the link stays. Later than that it has been
        // stopped: take up the current one.
        auto& record = sharedRecord();
        if (record.pendingStop) record.pendingStop->cancel();
        record.pendingStop.reset();
        if (record.session != peers_) {
            auto adopted = adoptSharedLink(cameraLimit_, env_).first;
            std::lock_guard lock(receiversLock_);
            peers_ = std::move(adopted);
        }
        adoptsLink_ = peers_->isRunning();
    }
    installPeerCallbacks();
    // Captures arrive on the disk they are filed to, under the shoot folder in use when each one starts: a folder
    // changed in Settings, or one taken away, is followed rather than the one of the link's making.
    if (auto session = peers_->session()) {
        ShootLibrary* library = env_.shootLibrary ? env_.shootLibrary : &ShootLibrary::shared();
        session->setArrivalFolder([library] { return library->defaultFolder() / ".incoming"; });
    }
    std::weak_ptr<MonitorController> weak = weak_from_this();
    if (collectsDeckCopies_) {
        peers_->onResource = [weak](const std::filesystem::path& file, const std::string& name, const PeerId& peer) {
            if (auto self = weak.lock()) self->receiveResource(file, name, peer);
        };
    }
    if (adoptsLink_)
        greetCameras();
    else
        peers_->start();

    if (importsFiles()) {
        (env_.shootLibrary ? *env_.shootLibrary : ShootLibrary::shared()).openToday();
        if (usbHub_) usbHub_->stop();
        auto hub = env_.makeUSBHub();
        auto env = env_;
        hub->onFile = [weak, env](const std::filesystem::path& file, const TransferInfo& info,
                                  const std::string& camera) { importReceivedFile(weak, env, file, info, camera); };
        hub->start();
        usbHub_ = std::move(hub);
    }
    if (collectsDeckCopies_) {
        deckEditObserver_ = QObject::connect(&NotificationHub::shared(), &NotificationHub::deckEditExported, this,
                                             [this](const QVariant& object) { handleDeckEditExported(object); });
    }
    if (statsTimer_) statsTimer_->store(false);
    statsTimer_ = std::make_shared<std::atomic<bool>>(true);
    scheduleEvery(statsInterval, statsTimer_, &MonitorController::statsTick);
    scheduleEvery(statsInterval, statsTimer_, &MonitorController::shootFolderTick);
    tellShootFolderAway();
    if (importsFiles()) fileKeptCaptures();
    scheduleEvery(keptFilingInterval, statsTimer_, &MonitorController::keptFilingTick);
    started_ = true;
}

void MonitorController::keptFilingTick() {
    if (importsFiles()) fileKeptCaptures();
}

void MonitorController::scheduleEvery(double interval, std::shared_ptr<std::atomic<bool>> alive,
                                      void (MonitorController::*tick)()) {
    std::weak_ptr<MonitorController> weak = weak_from_this();
    env_.mainExecutor->asyncAfter(interval, [weak, alive, interval, tick] {
        if (!alive->load()) return;
        auto self = weak.lock();
        if (!self) return;
        ((*self).*tick)();
        if (alive->load()) self->scheduleEvery(interval, alive, tick);
    });
}

void MonitorController::stop() {
    if (usbHub_) usbHub_->stop();
    usbHub_.reset();
    voiceOff();
    if (deckEditObserver_) QObject::disconnect(deckEditObserver_);
    deckEditObserver_ = {};
    if (statsTimer_) statsTimer_->store(false);
    statsTimer_.reset();
    if (sharedLink_) {
        if (isMasterCamera_) {
            auto ready = peers_->readyPeers();
            auto packet =
                encodeMessage(PacketType::command, CameraCommand(CameraCommand::MonitorHello{takesCaptures()}));
            if (packet)
                for (const auto& peer : ready) peers_->sendTo(*packet, peer);
        }
        releaseSharedLink(peers_, env_);
    } else {
        peers_->stop();
    }
    started_ = false;
}

// MARK: Change handlers

void MonitorController::setSelectedID(std::optional<PeerId> id) {
    // The user's choice: it follows the camera while the camera is away and back.
    if (const auto known = id ? identities_.find(*id) : identities_.end(); known != identities_.end())
        selectedIdentity_ = known->second.identity;
    if (selectedID_ == id) return;
    selectedID_ = id;
    emit selectedIDChanged();
}

void MonitorController::setSoloID(std::optional<PeerId> id) {
    const bool changed = soloID_ != id;
    soloID_ = id;
    if (changed) emit soloIDChanged();
    updateStreamQuality();
}

void MonitorController::setShutterAllCameras(bool value) {
    if (shutterAllCameras_ == value) return;
    shutterAllCameras_ = value;
    emit shutterAllCamerasChanged();
}

void MonitorController::setDeckMode(bool value) {
    const bool changed = deckMode_ != value;
    deckMode_ = value;
    setLiveCutOffered(false);
    if (changed) emit deckModeChanged();
    if (deckMode_) setShutterAllCameras(true);
    if (!livePictures_) send(CameraCommand::SetVideo{!deckMode_});
}

void MonitorController::setLiveCutOffered(bool value) {
    if (liveCutOffered_ == value) return;
    liveCutOffered_ = value;
    emit liveCutOfferedChanged();
}

void MonitorController::setLivePictures(bool value) {
    const bool changed = livePictures_ != value;
    livePictures_ = value;
    if (changed) emit livePicturesChanged();
    env_.defaults->set(livePicturesKey, value);
    send(CameraCommand::SetVideo{livePictures_});
}

void MonitorController::setCollectsTakesAutomatically(bool value) {
    const bool changed = collectsTakesAutomatically_ != value;
    collectsTakesAutomatically_ = value;
    if (changed) emit collectsTakesAutomaticallyChanged();
    env_.defaults->set(collectsTakesKey, value);
    if (!collectsDeckCopies_) return;
    if (value)
        send(CameraCommand::DeckHello{});
    else
        send(CameraCommand::DeckStopAutoCopies{});
}

void MonitorController::setShowHistogram(bool value) {
    const bool changed = showHistogram_ != value;
    showHistogram_ = value;
    if (changed) emit showHistogramChanged();
    env_.defaults->set(showHistogramKey, value);
}

void MonitorController::setProgramID(std::optional<PeerId> id) {
    if (programID_ == id) return;
    programID_ = id;
    emit programIDChanged();
}

void MonitorController::setDeckCopiesArriving(int value) {
    if (deckCopiesArriving_ == value) return;
    deckCopiesArriving_ = value;
    emit deckCopiesArrivingChanged();
}

// MARK: Status message

void MonitorController::setMessage(std::optional<std::string> text) {
    auto shown = notices_.shown();
    if (message_ == text && shownNotices_ == shown) return;
    message_ = std::move(text);
    shownNotices_ = std::move(shown);
    emit messageChanged();
}

void MonitorController::showMessage(const std::string& text, double seconds) {
    postNotice({.text = text, .seconds = seconds});
}

void MonitorController::showNotice(const std::string& text, const std::string& key) {
    postNotice({.text = text, .seconds = noticeDuration, .matters = true, .key = key});
}

void MonitorController::postNotice(NoticeBoard::Notice notice) {
    showNoticeFrom(notices_.post(std::move(notice)));
}

void MonitorController::dismissNotice(std::uint64_t id) {
    const auto before = notices_.dismissed();
    if (!notices_.dismiss(id)) return;
    if (notices_.dismissed() != before) saveDismissedNotices();
    setMessage(notices_.text());
}

void MonitorController::saveDismissedNotices() {
    const auto& dismissed = notices_.dismissed();
    env_.defaults->set(dismissedNoticesKey, std::vector<std::string>(dismissed.begin(), dismissed.end()));
}

void MonitorController::showNoticeFrom(std::optional<NoticeBoard::Showing> showing) {
    setMessage(notices_.text());
    if (!showing) return;
    std::weak_ptr<MonitorController> weak = weak_from_this();
    env_.mainExecutor->asyncAfter(showing->seconds, [weak, id = showing->id] {
        if (auto self = weak.lock()) self->showNoticeFrom(self->notices_.expire(id));
    });
}

void MonitorController::showMessageLater(NoticeBoard::Notice notice) {
    showMessageLater(weak_from_this(), env_, std::move(notice));
}

void MonitorController::showMessageLater(const std::weak_ptr<MonitorController>& controller,
                                         const Environment& environment, NoticeBoard::Notice notice) {
    environment.mainExecutor->async([controller, notice = std::move(notice)]() mutable {
        if (auto self = controller.lock()) self->postNotice(std::move(notice));
    });
}

// MARK: Shared tables

std::shared_ptr<VideoReceiver> MonitorController::receiver(const PeerId& peer) const {
    std::lock_guard lock(receiversLock_);
    auto found = receivers_.find(peer);
    return found == receivers_.end() ? nullptr : found->second;
}

std::optional<MonitorController::IncomingFile> MonitorController::incomingFile(const std::string& key) const {
    std::lock_guard lock(receiversLock_);
    return incoming_->find(key);
}

std::size_t MonitorController::incomingCount() const {
    std::lock_guard lock(receiversLock_);
    return incoming_->size();
}

std::optional<std::string> MonitorController::cameraName(const PeerId& peer) const {
    std::lock_guard lock(receiversLock_);
    auto found = cameraNames_.find(peer);
    if (found == cameraNames_.end()) return std::nullopt;
    return found->second;
}

}  // namespace morvane
