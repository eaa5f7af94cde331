#include "link_test_support.h"

#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

extern char** environ;

namespace morvane::test {
namespace {

/// The helper program, with a pipe to its input and its output read line by line on a thread of our own.
class ChildProcess {
public:
    ChildProcess(const std::vector<std::string>& args, const std::vector<std::string>& extraEnvironment) {
        int toChild[2], fromChild[2];
        if (::pipe(toChild) != 0 || ::pipe(fromChild) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, toChild[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, fromChild[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, toChild[1]);
        posix_spawn_file_actions_addclose(&actions, fromChild[0]);
        std::vector<std::string> environment;
        for (char** e = environ; *e; ++e) environment.emplace_back(*e);
        environment.insert(environment.end(), extraEnvironment.begin(), extraEnvironment.end());
        std::vector<char*> argv, envp;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        for (const auto& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);
        if (posix_spawn(&pid_, args[0].c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(toChild[0]);
        ::close(fromChild[1]);
        input_ = toChild[1];
        output_ = fromChild[0];
        reader_ = std::thread([this] {
            std::string line;
            char c;
            while (::read(output_, &c, 1) == 1) {
                if (c != '\n') {
                    line += c;
                    continue;
                }
                std::lock_guard lock(mutex_);
                lines_.push_back(line);
                line.clear();
            }
        });
    }

    ~ChildProcess() {
        closeInput();
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (reader_.joinable()) reader_.join();
        if (output_ >= 0) ::close(output_);
    }

    bool running() const { return pid_ > 0; }

    void write(const std::string& line) {
        const auto text = line + "\n";
        (void)!::write(input_, text.data(), text.size());
    }
    void closeInput() {
        if (input_ >= 0) ::close(input_);
        input_ = -1;
    }

    std::optional<std::string> lineStartingWith(const std::string& prefix) {
        std::lock_guard lock(mutex_);
        for (const auto& line : lines_) {
            if (line.rfind(prefix, 0) == 0) return line;
        }
        return std::nullopt;
    }

    /// The exit status, waiting at most `seconds`; none when it is still running.
    std::optional<int> wait(double seconds) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return std::nullopt;
    }

private:
    pid_t pid_ = -1;
    int input_ = -1;
    int output_ = -1;
    std::thread reader_;
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

TEST(TwoProcessTest, PairsWithAPeerInAnotherProcess) {
    TempDir dir;
    const auto discovery = Discovery::unique();
    // The child finds its group and port in the environment, the override the test command relies on.
    ChildProcess camera({MORVANE_LINK_HELPER, (dir / "camera").string(), "Far Cam"},
                        {"MORVANE_NEARBY_GROUP=" + discovery.group,
                         "MORVANE_NEARBY_PORT=" + std::to_string(discovery.port), "MORVANE_TEST_LOOPBACK_ONLY=1"});
    ASSERT_TRUE(camera.running());
    Node monitor(PeerSession::Role::monitor, discovery, dir / "monitor", "Desk");
    monitor.start();

    ASSERT_TRUE(eventually([&] { return monitor.recorder.nearbyNamed("Far Cam").has_value(); }, 20));
    const auto id = monitor.recorder.nearbyNamed("Far Cam")->id;
    monitor.session->connect(id);
    ASSERT_TRUE(eventually([&] { return monitor.recorder.currentRequest() && camera.lineStartingWith("CODE "); }, 20));
    EXPECT_EQ(*camera.lineStartingWith("CODE "), "CODE " + monitor.recorder.currentRequest()->code);
    monitor.session->acceptPairing(id);
    camera.write("ACCEPT");
    ASSERT_TRUE(eventually([&] { return !monitor.recorder.peers().empty() && camera.lineStartingWith("READY"); }, 20));
    ASSERT_EQ(monitor.trustedList().size(), 1u);
    EXPECT_EQ(monitor.trustedList()[0].name, "Far Cam");

    // Packets go out and come back, in order.
    for (std::uint8_t i = 0; i < 50; ++i) monitor.send(Bytes{5, i, 7}, id);
    ASSERT_TRUE(eventually([&] { return monitor.recorder.data().size() == 50; }, 20));
    for (std::uint8_t i = 0; i < 50; ++i) EXPECT_EQ(monitor.recorder.data()[i], (Bytes{5, i, 7}));

    camera.closeInput();
    EXPECT_EQ(camera.wait(20), 0);
    EXPECT_TRUE(eventually([&] { return monitor.recorder.peers().empty(); }, 20));
}

}  // namespace
}  // namespace morvane::test
