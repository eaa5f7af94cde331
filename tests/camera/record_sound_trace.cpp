// Records the reads of a sound server's stream as the camera reads it, for the sound clock's table
// (tests/camera/sound_traces): a pipe source of the server's fed in real time at 48 kHz, clicks every 0.1 s over a
// quiet tone, whose feeder loses sound, stalls, or whose source is removed, as the case says. Run with a server of its
// own: tests/deck_ui/with_pulseaudio.sh record_sound_trace <case> > trace.txt

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "platform/pulse_input.h"
#include "test_files.h"

namespace {

using namespace morvane;

struct Case {
    const char* name;
    const char* what;
    std::vector<double> lostAt;  ///< the feeder loses sound at these seconds
    double lost = 0.012;         ///< this much each time
    double every = 0.002;        ///< the feeder writes what is due this often
    double stallAt = 0;          ///< the sound server is stopped at this second …
    double stallFor = 0;         ///< … for this long
    double removeAt = 0;         ///< the source is removed at this second
    double length = 5;
};

const Case kCases[] = {
    {"loss_12ms", "12 ms lost once, 15 ms after a click", {2.015}},
    {"three_losses_12ms", "12 ms lost three times", {2.015, 2.815, 3.615}},
    {"loss_15ms", "15 ms lost once", {2.035}, 0.015},
    {"loss_inside_a_block", "40 ms lost inside the 20 ms the feeder writes at a time", {2.015}, 0.04, 0.02},
    {"stall_over_a_loss", "the server stopped 0.5 s from 2.0 s, 40 ms lost at 2.29 s", {2.29}, 0.04, 0.002, 2, 0.5},
    {"two_losses_200ms", "200 ms lost twice, 0.35 s apart", {2.095, 2.445}, 0.2},
    {"source_removed", "the source removed at 2.5 s", {}, 0, 0.002, 0, 0, 2.5, 4},
};

void sleepFor(double seconds) {
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

/// The sound server of this run: the process listening on PULSE_SERVER's socket.
pid_t serverProcess() {
    const char* server = std::getenv("PULSE_SERVER");
    if (!server) return 0;
    std::string socket = server;
    if (socket.rfind("unix:", 0) == 0) socket = socket.substr(5);
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream cmdline(entry.path() / "cmdline");
        std::string text((std::istreambuf_iterator<char>(cmdline)), {});
        if (text.rfind("pulseaudio", 0) == 0 && text.find(socket) != std::string::npos)
            return static_cast<pid_t>(std::stol(entry.path().filename().string()));
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const Case* chosen = nullptr;
    for (const Case& c : kCases)
        if (argc > 1 && std::string(argv[1]) == c.name) chosen = &c;
    if (!chosen) {
        std::fprintf(stderr, "usage: record_sound_trace <case>; cases:");
        for (const Case& c : kCases) std::fprintf(stderr, " %s", c.name);
        std::fprintf(stderr, "\n");
        return 2;
    }
    const Case& c = *chosen;
    constexpr int kRate = 48000;
    const std::filesystem::path pipe =
        std::filesystem::temp_directory_path() / ("trace_pipe_" + std::to_string(getpid()));
    const std::string module =
        test::commandOutput("pactl load-module module-pipe-source source_name=trace_pipe file=" + pipe.string() +
                            " format=float32le rate=48000 channels=1");
    if (module.empty()) return 1;
    const int fd = ::open(pipe.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return 1;
    const double fed = hostTime();
    std::atomic<bool> feeding{true};
    std::mutex refusedLock;
    std::vector<std::pair<double, double>> refusedRuns;  // the feeder's instant, seconds
    std::thread feeder([&] {
        std::int64_t written = 0;
        std::vector<float> samples;
        while (feeding) {
            const auto due = static_cast<std::int64_t>((hostTime() - fed) * kRate);
            samples.clear();
            test::appendClickedTone(samples, written, due, kRate, 0.1, c.lostAt, c.lost);
            written = std::max(written, due);
            // What a full pipe refuses is lost too, and said so.
            const ssize_t put = samples.empty() ? 0 : ::write(fd, samples.data(), samples.size() * sizeof(float));
            if (put < 0 && errno != EAGAIN) break;
            const std::size_t refused = samples.size() - (put > 0 ? static_cast<std::size_t>(put) / sizeof(float) : 0);
            if (refused > 0) {
                std::lock_guard lock(refusedLock);
                const double from = static_cast<double>(due - static_cast<std::int64_t>(refused)) / kRate;
                if (!refusedRuns.empty() &&
                    std::abs(refusedRuns.back().first + refusedRuns.back().second - from) < 1e-3)
                    refusedRuns.back().second += static_cast<double>(refused) / kRate;
                else
                    refusedRuns.emplace_back(from, static_cast<double>(refused) / kRate);
            }
            sleepFor(c.every);
        }
    });
    std::thread events([&] {
        if (c.stallFor > 0) {
            const pid_t server = serverProcess();
            while (hostTime() - fed < c.stallAt) sleepFor(0.001);
            if (server > 0) ::kill(server, SIGSTOP);
            sleepFor(c.stallFor);
            if (server > 0) ::kill(server, SIGCONT);
        }
        if (c.removeAt > 0) {
            while (hostTime() - fed < c.removeAt) sleepFor(0.001);
            test::commandOutput("pactl unload-module " + module);
        }
    });

    std::printf("# %s.\n", c.what);
    std::printf(
        "# The camera's reader of a PulseAudio pipe source (10 ms fragments), fed in real time at 48 kHz, "
        "clicks every 0.1 s.\n");
    std::printf(
        "# Each line: read (host seconds), samples, where the server's counts say it was heard (host "
        "seconds).\n");
    std::printf("# counted\n");
    for (const double at : c.lostAt) std::printf("# lost %.3f %.3f\n", at, c.lost);
    if (c.stallFor > 0) std::printf("# stalled %.3f %.3f\n", c.stallAt, c.stallFor);
    PulseInput input;
    std::string error;
    if (!input.open("trace_pipe", hostTime() + 3, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    std::vector<PulseInput::Block> blocks;
    bool going = true;
    while (going && hostTime() - fed < c.length) {
        blocks.clear();
        going = input.read(0.1, blocks, &error);
        for (const auto& block : blocks)
            std::printf("%.6f %d %.6f%s\n", block.readAt - fed, block.samples->nb_samples, block.heard - fed,
                        block.hole ? " hole" : "");
    }
    if (!going) std::printf("# ended: %s\n", error.c_str());
    feeding = false;
    feeder.join();
    for (const auto& [at, seconds] : refusedRuns) std::printf("# lost %.4f %.4f (the pipe full)\n", at, seconds);
    events.join();
    ::close(fd);
    if (c.removeAt == 0) test::commandOutput("pactl unload-module " + module);
    return 0;
}
