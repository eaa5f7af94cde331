// The camera program on a V4L2 camera whose driver gets stuck: SIGTERM still ends it within seconds. A name too long
// for the link: it says what the remote shows.

#include <gtest/gtest.h>

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

TEST(CameraProgram, SaysWhenItCutsItsName) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.insert("MORVANE_TEST_LOOPBACK_ONLY", "1");
    QProcess camera;
    camera.setProcessEnvironment(environment);
    camera.setProcessChannelMode(QProcess::MergedChannels);
    const std::string name = "Camera on the left of the stage, by the piano";  // 45 characters
    camera.start(CAMERA_PROGRAM,
                 {"--name", QString::fromStdString(name), "--folder", dir.filePath("camera"), "--size", "320x180"});
    std::string output;
    const bool ready = waitForLine(camera, output, "ready ", 60);
    camera.write("quit\n");
    if (!camera.waitForFinished(15000)) camera.kill();
    ASSERT_TRUE(ready) << output;
    EXPECT_NE(output.find("shows this camera as “" + name.substr(0, 39) + "…”"), std::string::npos) << output;
}

}  // namespace
}  // namespace morvane
