#pragma once

// Leaves what a process killed in the middle of an atomic write leaves behind: a child process writes the file
// over and over and is killed while one of its hidden temporary files exists.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <thread>

#include "platform/atomic_file.h"

namespace morvane::test {

/// The temporary file that a killed writer of `file` left in its folder; none when no attempt caught one. The
/// writer writes `open`, 4 MiB of spaces and `close`, so that a write it finished leaves valid JSON.
inline std::optional<std::filesystem::path> leaveInterruptedWrite(const std::filesystem::path& file,
                                                                  const std::string& open = "{",
                                                                  const std::string& close = "}") {
    namespace fs = std::filesystem;
    const fs::path folder = file.parent_path();
    const auto hidden = [&] {
        std::set<fs::path> found;
        for (const auto& entry : fs::directory_iterator(folder)) {
            const std::string name = entry.path().filename().string();
            if (name.size() > 4 && name.front() == '.' && name.ends_with(".tmp")) found.insert(entry.path());
        }
        return found;
    };
    const std::set<fs::path> before = hidden();
    const std::string bytes = open + std::string(4 << 20, ' ') + close;
    for (int attempt = 0; attempt < 20; ++attempt) {
        const pid_t child = ::fork();
        if (child < 0) return std::nullopt;
        if (child == 0) {
            for (;;) writeFileAtomically(file, bytes, {.durable = false});
        }
        std::optional<fs::path> leftover;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < deadline) {
            bool seen = false;
            for (const auto& path : hidden()) seen = seen || !before.count(path);
            if (seen) break;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        for (const auto& path : hidden()) {
            if (!before.count(path)) leftover = path;
        }
        if (leftover) return leftover;
    }
    return std::nullopt;
}

}  // namespace morvane::test
