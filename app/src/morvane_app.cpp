#include "app/morvane_app.h"

#include <QApplication>
#include <QEvent>
#include <QIcon>
#include <QKeyEvent>
#include <QTimer>
#include <QVBoxLayout>

#include "camera_panels/app_logo.h"
#include "platform/defaults.h"
#include "platform/theme.h"
#include "resources/resource_paths.h"

namespace morvane {

ScenePhase scenePhaseOf(Qt::ApplicationState state) {
    switch (state) {
        case Qt::ApplicationActive:
            return ScenePhase::active;
        case Qt::ApplicationInactive:
            return ScenePhase::inactive;
        case Qt::ApplicationHidden:
        case Qt::ApplicationSuspended:
            return ScenePhase::background;
    }
    return ScenePhase::inactive;
}

bool isQuitKey(const QKeyEvent& event) {
    return event.key() == Qt::Key_Q && (event.modifiers() & ~Qt::KeypadModifier) == Qt::ControlModifier;
}

bool privacyCoverShown(bool useVault, ScenePhase phase) {
    return useVault && phase != ScenePhase::active;
}

ContentView::ContentView(MonitorScreenOptions options, QWidget* parent) : QWidget(parent) {
    // The desktop root never builds the deck configuration and has no exit.
    options.onExit = nullptr;
    options.isDeckPhone = false;
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    screen_ = new MonitorScreen(std::move(options), this);
    layout->addWidget(screen_);
}

DeckRoot::DeckRoot(MonitorScreenOptions options, QWidget* parent) : QWidget(parent) {
    options.onExit = nullptr;
    options.isDeckPhone = true;
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    screen_ = new MonitorScreen(std::move(options), this);
    layout->addWidget(screen_);
}

PrivacyCover::PrivacyCover(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("privacyCover"));
    theme::setBackground(*this, Qt::black);
    auto* layout = new QVBoxLayout(this);
    logo_ = new AppLogo(logoSize, this);
    layout->addWidget(logo_, 0, Qt::AlignCenter);
}

MorvaneApp::MorvaneApp() : MorvaneApp(Options()) {}

MorvaneApp::MorvaneApp(Options options) : defaults_(options.defaults) {
    window_ = new QWidget;
    window_->setObjectName(QStringLiteral("mainWindow"));
    window_->setWindowTitle(options.deck ? QStringLiteral("Brindlecroft Deck") : QStringLiteral("Brindlecroft"));
    window_->setWindowIcon(QIcon(resources::logo()));
    window_->setMinimumSize(720, 480);
    window_->resize(options.windowSize);
    auto* layout = new QVBoxLayout(window_);
    layout->setContentsMargins(0, 0, 0, 0);
    if (options.deck) {
        deck_ = new DeckRoot(std::move(options.screen), window_);
        layout->addWidget(deck_);
    } else {
        content_ = new ContentView(std::move(options.screen), window_);
        layout->addWidget(content_);
    }
    // The cover is an overlay over the running screen, not a replacement for it.
    cover_ = new PrivacyCover(window_);
    cover_->hide();
    window_->installEventFilter(this);

    if (qApp) {
        // Ctrl+Q is seen here, before any window: a sheet or alert over the window blocks the window's own
        // shortcuts.
        qApp->installEventFilter(this);
        phase_ = scenePhaseOf(QGuiApplication::applicationState());
        connect(qApp, &QGuiApplication::applicationStateChanged, this,
                [this](Qt::ApplicationState state) { setScenePhase(scenePhaseOf(state)); });
    }
    updatePrivacyCover();
}

MorvaneApp::~MorvaneApp() {
    delete window_;
}

MonitorScreen* MorvaneApp::monitorScreen() const {
    return deck_ ? deck_->monitorScreen() : content_->monitorScreen();
}

Defaults& MorvaneApp::defaults() const {
    if (defaults_) return *defaults_;
    return *monitorScreen()->controller().environment().defaults;
}

void MorvaneApp::show() {
    window_->show();
    updatePrivacyCover();
}

void MorvaneApp::bringToFront() {
    if (window_->isMinimized()) window_->showNormal();
    window_->show();
    window_->raise();
    window_->activateWindow();
}

void MorvaneApp::setScenePhase(ScenePhase phase) {
    phase_ = phase;
    updatePrivacyCover();
}

void MorvaneApp::updatePrivacyCover() {
    const bool shown = privacyCoverShown(defaults().boolValue(useVaultKey, false), phase_);
    cover_->setGeometry(window_->rect());
    cover_->setVisible(shown);
    if (shown) cover_->raise();
}

bool MorvaneApp::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && isQuitKey(*static_cast<QKeyEvent*>(event))) {
        // Ends the application as closing the window does.
        QCoreApplication::quit();
        return true;
    }
    if (watched == window_ && event->type() == QEvent::Resize) cover_->setGeometry(window_->rect());
    return QObject::eventFilter(watched, event);
}

void MorvaneApp::authenticationReply(bool success, const QString& error, std::function<void(bool)> continuation) {
    (void)error;
    if (!continuation || !qApp) return;
    QMetaObject::invokeMethod(
        qApp, [success, continuation = std::move(continuation)] { continuation(success); }, Qt::QueuedConnection);
}

}  // namespace morvane
