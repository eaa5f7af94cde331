#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace morvane::test {

/// The samples `from` up to `to` (at `rate`) of the sound fed to a test microphone: a quiet 1 kHz tone with a click
/// every `clickEvery` seconds, where the runs lost (`lost` long from each instant of `lostAt`) are left out.
inline void appendClickedTone(std::vector<float>& samples, std::int64_t from, std::int64_t to, int rate,
                              double clickEvery, const std::vector<double>& lostAt, double lost) {
    for (std::int64_t i = from; i < to; ++i) {
        const double at = static_cast<double>(i) / rate;
        bool gone = false;
        for (const double loss : lostAt) gone = gone || (at >= loss && at < loss + lost);
        if (gone) continue;
        const bool click = std::fmod(at + 1e-9, clickEvery) < 0.001;
        samples.push_back(click ? 0.9f : 0.1f * static_cast<float>(std::sin(2 * M_PI * 1000 * at)));
    }
}

/// What a shell command prints on its standard output; empty when it cannot be started.
inline std::string commandOutput(const std::string& command) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return out;
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
    ::pclose(pipe);
    return out;
}

/// A movie's sound decoded to mono 48 kHz samples; none when it has no sound track.
inline std::vector<float> decodedSound(const std::filesystem::path& movie) {
    const std::string bytes =
        commandOutput("ffmpeg -v error -i '" + movie.string() + "' -map 0:a -ac 1 -ar 48000 -f f32le -");
    std::vector<float> samples(bytes.size() / sizeof(float));
    if (!samples.empty()) std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
    return samples;
}

/// The whole contents of a file; empty when it cannot be read.
inline std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

/// Makes the file hold exactly these bytes, and its folder exist.
inline void writeFile(const std::filesystem::path& path, std::string_view bytes) {
    if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

/// The names in a folder, without those in its subfolders.
inline std::set<std::string> namesIn(const std::filesystem::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

}  // namespace morvane::test
