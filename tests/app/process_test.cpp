// One running copy per user (two real starts of the application), Qt's messages in the system log, and the
// screensaver held off over a private session bus.

#include <gtest/gtest.h>

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <optional>
#include <random>

#include "app/screen_saver_inhibitor.h"
#include "qt_message_log.h"
#include "scoped_env.h"

namespace morvane {
namespace {

bool waitUntil(const std::function<bool()>& condition, int milliseconds) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > milliseconds) return false;
        QThread::msleep(20);
    }
    return true;
}

/// The environment of an application started by the test: its own home, runtime and settings folders, the
/// loopback only, a discovery group of its own, and no USB service.
QProcessEnvironment appEnvironment(const QString& root) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    QDir(root).mkpath(QStringLiteral("run"));
    QFile::setPermissions(root + "/run", QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    env.insert("HOME", root);
    env.insert("XDG_RUNTIME_DIR", root + "/run");
    env.insert("XDG_CONFIG_HOME", root + "/config");
    env.insert("XDG_DATA_HOME", root + "/data");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("MORVANE_LOG_STDERR", "1");
    env.insert("MORVANE_TEST_LOOPBACK_ONLY", "1");
    std::random_device device;
    std::mt19937 random(device() ^ static_cast<unsigned>(::getpid()));
    env.insert("MORVANE_NEARBY_GROUP",
               QStringLiteral("239.255.%1.%2").arg(100 + random() % 100).arg(1 + random() % 250));
    env.insert("MORVANE_NEARBY_PORT", QString::number(40000 + random() % 20000));
    env.insert("USBMUXD_SOCKET_ADDRESS", "UNIX:" + root + "/no-usbmuxd");
    // The first copy is ended by a signal, which leaves no chance for a leak report.
    env.insert("ASAN_OPTIONS", "detect_leaks=0");
    return env;
}

TEST(OneCopy, ASecondStartHandsItsRequestToTheFirstAndEnds) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const auto env = appEnvironment(dir.path());
    const QString socket = dir.path() + QStringLiteral("/run/brindlecroft-%1.socket").arg(::getuid());

    QProcess first;
    first.setProcessEnvironment(env);
    first.setProcessChannelMode(QProcess::SeparateChannels);
    first.start(QStringLiteral(MORVANE_APP_BINARY), {});
    ASSERT_TRUE(first.waitForStarted(10000));
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(socket); }, 30000)) << "the first copy listens";

    QProcess second;
    second.setProcessEnvironment(env);
    second.start(QStringLiteral(MORVANE_APP_BINARY), {});
    ASSERT_TRUE(second.waitForFinished(30000)) << "the second copy ends by itself";
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(second.readAllStandardError().contains("already running"));

    QByteArray firstOutput;
    EXPECT_TRUE(waitUntil(
        [&] {
            first.waitForReadyRead(50);
            firstOutput += first.readAllStandardError();
            return firstOutput.contains("another start asked for the window");
        },
        20000))
        << firstOutput.toStdString();
    EXPECT_EQ(first.state(), QProcess::Running) << "the first copy goes on";

    // A copy that died leaves its lock and socket behind: the next start takes over.
    first.kill();
    first.waitForFinished(10000);
    QProcess third;
    third.setProcessEnvironment(env);
    third.start(QStringLiteral(MORVANE_APP_BINARY), {});
    ASSERT_TRUE(third.waitForStarted(10000));
    QByteArray thirdOutput;
    EXPECT_FALSE(third.waitForFinished(4000)) << "it runs as the only copy";
    thirdOutput = third.readAllStandardError();
    EXPECT_FALSE(thirdOutput.contains("already running"));
    third.kill();
    third.waitForFinished(10000);
}

/// `brindlecroft` with `arguments`, to its end; its exit code and both outputs.
struct Run {
    int code = -1;
    QByteArray out, err;
};
Run runToEnd(const QStringList& arguments, const QProcessEnvironment& env) {
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(MORVANE_APP_BINARY), arguments);
    Run run;
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished(5000);
        return run;
    }
    run.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

TEST(CommandLine, HelpVersionAndUnknownOptionsNeedNoDisplay) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    auto env = appEnvironment(dir.path());
    env.remove("QT_QPA_PLATFORM");  // as on a console without a display
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    const struct {
        QStringList arguments;
        int code;
        const char* out;
        const char* err;
    } cases[] = {
        {{"--help"}, 0, "Usage: brindlecroft [--deck]", ""},
        {{"--deck", "-h"}, 0, "--version   show the version", ""},
        {{"--version"}, 0, "brindlecroft 0.", ""},
        {{"--decks"}, 2, "", "brindlecroft: unknown option --decks"},
    };
    for (const auto& c : cases) {
        const auto run = runToEnd(c.arguments, env);
        EXPECT_EQ(run.code, c.code) << c.arguments.join(' ').toStdString();
        EXPECT_TRUE(run.out.contains(c.out)) << run.out.toStdString();
        EXPECT_TRUE(run.err.contains(c.err)) << run.err.toStdString();
    }
}

TEST(Quitting, ATerminationSignalQuitsLikeClosingTheWindow) {
    for (const int signal : {SIGTERM, SIGINT}) {
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        auto env = appEnvironment(dir.path());
        QDir(dir.path()).mkpath("tmp");
        env.insert("TMPDIR", dir.path() + "/tmp");
        QProcess app;
        app.setProcessEnvironment(env);
        app.start(QStringLiteral(MORVANE_APP_BINARY), {"--deck"});
        ASSERT_TRUE(app.waitForStarted(10000));
        // The link is running once its folder for arriving files exists: in the shoot folder, on the disk the
        // files are filed to.
        const auto arriving = [&]() -> std::optional<std::filesystem::path> {
            std::error_code ec;
            for (std::filesystem::recursive_directory_iterator it(dir.path().toStdString(), ec), end; !ec && it != end;
                 it.increment(ec))
                if (it->path().filename() == ".incoming" && it->path().parent_path().filename() == "Brindlecroft")
                    return it->path();
            return std::nullopt;
        };
        ASSERT_TRUE(waitUntil([&] { return arriving().has_value(); }, 30000));
        ::kill(static_cast<pid_t>(app.processId()), signal);
        ASSERT_TRUE(app.waitForFinished(30000));
        EXPECT_EQ(app.exitStatus(), QProcess::NormalExit) << signal;
        EXPECT_EQ(app.exitCode(), 0);
        EXPECT_TRUE(app.readAllStandardError().contains("Brindlecroft: quit"));
        EXPECT_TRUE(std::filesystem::is_empty(*arriving())) << "nothing of an arriving file is left";
    }
}

Q_LOGGING_CATEGORY(testCategory, "brindlecroft.test")

TEST(QtMessages, ReachTheSystemLogWithTheirCategory) {
    EXPECT_EQ(log::qtLogLine("default", "x").component, "Qt");
    EXPECT_EQ(log::qtLogLine(nullptr, "x").component, "Qt");
    EXPECT_EQ(log::qtLogLine("qt.qpa.xcb", "x").component, "Qt(qt.qpa.xcb)");

    test::ScopedEnv mirror("MORVANE_LOG_STDERR", "1");
    log::installQtMessageLog();
    ::testing::internal::CaptureStderr();
    qWarning("QPainter::begin: Paint device returned engine == 0");
    qCWarning(testCategory) << "a categorised warning";
    const std::string out = ::testing::internal::GetCapturedStderr();
    qInstallMessageHandler(nullptr);
    EXPECT_NE(out.find("Qt: QPainter::begin: Paint device returned engine == 0\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Qt(brindlecroft.test): a categorised warning\n"), std::string::npos) << out;
}

/// The desktop's screensaver service as a test plays it.
class FakeScreenSaver : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")
public:
    std::atomic<int> inhibits{0};
    std::atomic<int> uninhibits{0};
    std::atomic<uint> lastUninhibited{0};
public slots:
    uint Inhibit(const QString& application, const QString& reason) {
        (void)application;
        (void)reason;
        ++inhibits;
        return 4242;
    }
    void UnInhibit(uint cookie) {
        lastUninhibited = cookie;
        ++uninhibits;
    }
};

TEST(ScreenSaver, HeldOffWhileShownAndSkippedWithoutTheService) {
    const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (daemon.isEmpty()) GTEST_SKIP() << "dbus-daemon is not installed";
    QProcess bus;
    bus.start(daemon, {"--session", "--nofork", "--print-address=1"});
    ASSERT_TRUE(bus.waitForReadyRead(10000));
    const QString address = QString::fromUtf8(bus.readLine()).trimmed();
    ASSERT_FALSE(address.isEmpty());

    {
        auto client = QDBusConnection::connectToBus(address, QStringLiteral("client"));
        ASSERT_TRUE(client.isConnected());
        ScreenSaverInhibitor absent(client);
        absent.setInhibited(true);
        EXPECT_FALSE(absent.cookie()) << "no screensaver service on this bus";

        // The service answers on its own thread, as a desktop's would from its own process.
        QThread serviceThread;
        serviceThread.start();
        auto* service = new FakeScreenSaver;
        service->moveToThread(&serviceThread);
        auto provider = QDBusConnection::connectToBus(address, QStringLiteral("provider"));
        ASSERT_TRUE(provider.registerObject(QString::fromLatin1(ScreenSaverInhibitor::objectPath), service,
                                            QDBusConnection::ExportAllSlots));
        ASSERT_TRUE(provider.registerService(QString::fromLatin1(ScreenSaverInhibitor::serviceName)));

        {
            ScreenSaverInhibitor inhibitor(client);
            inhibitor.setInhibited(true);
            EXPECT_EQ(inhibitor.cookie(), 4242u);
            inhibitor.setInhibited(true);
            EXPECT_EQ(service->inhibits, 1) << "held once";
            inhibitor.setInhibited(false);
            EXPECT_FALSE(inhibitor.cookie());
            EXPECT_EQ(service->uninhibits, 1);
            EXPECT_EQ(service->lastUninhibited, 4242u);
            inhibitor.setInhibited(true);
        }
        EXPECT_EQ(service->uninhibits, 2) << "released when the inhibitor goes";

        provider.unregisterObject(QString::fromLatin1(ScreenSaverInhibitor::objectPath));
        QDBusConnection::disconnectFromBus(QStringLiteral("provider"));
        serviceThread.quit();
        serviceThread.wait();
        delete service;
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("client"));
    bus.kill();
    bus.waitForFinished();
}

}  // namespace
}  // namespace morvane

#include "process_test.moc"
