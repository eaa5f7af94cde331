// The camera program as a whole: on a V4L2 camera whose driver gets stuck, and with command lines it must refuse.

#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <chrono>
#include <csignal>
#include <string>

namespace morvane {
namespace {

// Output lines until one contains `text` or `seconds` pass.
bool waitForLine(QProcess& process, std::string& output, const std::string& text, double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (output.find(text) == std::string::npos && std::chrono::steady_clock::now() < end) {
        if (process.state() == QProcess::NotRunning) break;
        process.waitForReadyRead(100);
        output += process.readAll().toStdString();
    }
    return output.find(text) != std::string::npos;
}

TEST(CameraProgram, EndsSoonAfterSIGTERMWhileItsCameraIsStuck) {
    struct Case {
        const char* stall;
        const char* what;
    } cases[] = {{"wait", "reads wait in the driver unless asked not to"},
                 {"hang", "reads hang in the driver whatever they ask"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        const QString device = dir.filePath("video0");
        auto environment = QProcessEnvironment::systemEnvironment();
        environment.insert("MORVANE_TEST_LOOPBACK_ONLY", "1");
        environment.insert("LD_PRELOAD", FAKE_V4L2_CAMERA);
        environment.insert("MORVANE_FAKE_V4L2", device);
        environment.insert("MORVANE_FAKE_V4L2_FRAMES", "45");  // a second and a half, then stuck
        environment.insert("MORVANE_FAKE_V4L2_STALL", c.stall);
        // The sanitizers' runtime is not first among the preloaded libraries: the program runs all the same.
        environment.insert("ASAN_OPTIONS", environment.value("ASAN_OPTIONS") + ":verify_asan_link_order=0");
        QProcess camera;
        camera.setProcessEnvironment(environment);
        camera.setProcessChannelMode(QProcess::MergedChannels);
        camera.start(CAMERA_PROGRAM, {"--name", "Cam Stuck", "--folder", dir.filePath("camera"), "--device", device,
                                      "--size", "320x240"});
        std::string output;
        ASSERT_TRUE(waitForLine(camera, output, "ready Cam Stuck", 60)) << output;
        // The pictures stop; the watchdog finds out and starts the capture again, to no avail.
        ASSERT_TRUE(waitForLine(camera, output, "restarting the capture", 30)) << output;
        ::kill(static_cast<pid_t>(camera.processId()), SIGTERM);
        const bool ended = camera.waitForFinished(10000);
        output += camera.readAll().toStdString();
        EXPECT_TRUE(ended) << output;
        EXPECT_NE(output.find("stopped"), std::string::npos) << output;
        EXPECT_EQ(camera.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(camera.exitCode(), 0);
        if (!ended) {
            camera.kill();
            camera.waitForFinished(5000);
        }
    }
}

// Command lines the program cannot follow: it says what is wrong and ends at once, before it films or listens.
TEST(CameraProgram, RefusesWhatItCannotFollow) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // Something in the way of the folder's lock file: the lock cannot be taken.
    ASSERT_TRUE(QDir(dir.path()).mkpath("blocked/camera.lock"));
    struct Case {
        QStringList arguments;
        int exitCode;
        const char* says;
    } cases[] = {
        {{"--size", "99999x99999"}, 2, "--size takes WIDTHxHEIGHT"},
        {{"--size", "8192x8192"}, 2, "--size takes WIDTHxHEIGHT"},
        {{"--size", "0x720"}, 2, "--size takes WIDTHxHEIGHT"},
        {{"--size", "1280x720p"}, 2, "--size takes WIDTHxHEIGHT"},
        {{"--size", "99999999999x720"}, 2, "--size takes WIDTHxHEIGHT"},
        {{"--usb-port", "70000"}, 2, "--usb-port takes 1 to 65535"},
        {{"--usb-port", "-5"}, 2, "--usb-port takes 1 to 65535"},
        {{"--usb-port", "abc"}, 2, "--usb-port takes 1 to 65535"},
        {{"--usb-port", "0"}, 2, "--usb-port takes 1 to 65535"},
        {{"--folder", dir.filePath("blocked")}, 1, "can't take the lock"},
    };
    int index = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        QStringList arguments{"--name", "Cam Bad", "--folder", dir.filePath("camera" + QString::number(index++))};
        arguments += c.arguments;
        auto environment = QProcessEnvironment::systemEnvironment();
        environment.insert("MORVANE_TEST_LOOPBACK_ONLY", "1");
        QProcess camera;
        camera.setProcessEnvironment(environment);
        camera.start(CAMERA_PROGRAM, arguments);
        const bool ended = camera.waitForFinished(15000);
        const std::string said = camera.readAllStandardError().toStdString();
        EXPECT_TRUE(ended) << "still running";
        EXPECT_EQ(camera.exitCode(), c.exitCode) << said;
        EXPECT_NE(said.find(c.says), std::string::npos) << said;
        EXPECT_EQ(camera.readAllStandardOutput().toStdString().find("ready"), std::string::npos);
        if (!ended) {
            camera.kill();
            camera.waitForFinished(5000);
        }
    }
}

}  // namespace
}  // namespace morvane
