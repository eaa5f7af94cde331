#pragma once

// Shared by the fuzz programs: a broken property ends the run the way a sanitizer finding does, and programs
// that load files get a private scratch folder.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <unistd.h>

namespace morvane::fuzz {

using Input = std::span<const std::uint8_t>;

/// Reports a broken property and aborts, so that libFuzzer keeps the input as a crash.
[[noreturn]] inline void fail(const char* what) {
    std::fprintf(stderr, "fuzz property broken: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

inline void require(bool condition, const char* what) {
    if (!condition) fail(what);
}

inline std::string_view text(Input data) {
    return {reinterpret_cast<const char*>(data.data()), data.size()};
}

/// A folder of this process's own, made on first use and removed at exit.
inline const std::filesystem::path& scratchFolder() {
    static const std::filesystem::path folder = [] {
        // Memory-backed when the machine has it: the loaders write atomically and flush, which a disk makes slow.
        std::error_code ec;
        std::filesystem::path base = "/dev/shm";
        if (!std::filesystem::is_directory(base, ec) || ::access(base.c_str(), W_OK) != 0) {
            base = std::filesystem::temp_directory_path(ec);
            if (ec) base = "/tmp";
        }
        std::string pattern = (base / "morvane-fuzz-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) fail("cannot make a scratch folder");
        static const std::filesystem::path made = pattern;
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(made, ignored);
        });
        return made;
    }();
    return folder;
}

/// Writes the bytes to the file, replacing it.
inline void writeFile(const std::filesystem::path& file, Input data) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    if (!out) fail("cannot write a scratch file");
}

/// Removes everything in the folder but the folder itself.
inline void emptyFolder(const std::filesystem::path& folder) {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) std::filesystem::remove_all(entry, ec);
}

}  // namespace morvane::fuzz
