#pragma once

// Synthetic movies made with the ffmpeg tool, and readings of finished movies through ffmpeg and ffprobe.

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fixtures {

inline std::string quote(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

inline std::string capture(const std::string& command) {
    std::string out;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
        ::pclose(pipe);
    }
    return out;
}

inline bool run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

struct Clip {
    std::string color = "red";  ///< an ffmpeg colour name or 0xRRGGBB
    double tone = 0;            ///< Hz; 0 makes a movie without sound
    double seconds = 4;
    int width = 320;
    int height = 180;
    int rate = 10;
    int rotate = 0;             ///< display rotation written into the movie's matrix
    double startOffset = 0;     ///< where the tracks start on the movie's time line
    std::string splitColor;     ///< when set, the right half of the picture has this colour
    std::string pattern;        ///< when set, a moving lavfi source (such as "testsrc2") instead of the colour
    int keyFrameInterval = 10;  ///< pictures from one key frame to the next
    int noise = 0;              ///< when above 0, sensor-like noise of this strength (0…100) over the picture
};

/// Writes a small H.264/AAC QuickTime movie; false when ffmpeg failed.
inline bool makeClip(const std::filesystem::path& file, const Clip& c) {
    const std::string size = std::to_string(c.width) + "x" + std::to_string(c.height);
    const std::string picture = c.pattern.empty() ? "color=c=" + c.color + ":s=" : c.pattern + "=s=";
    std::string cmd = "ffmpeg -v error -y -f lavfi -i " +
                      quote(picture + size + ":r=" + std::to_string(c.rate) + ":d=" + std::to_string(c.seconds));
    if (!c.splitColor.empty()) {
        cmd += " -f lavfi -i " +
               quote("color=c=" + c.splitColor + ":s=" + std::to_string(c.width / 2) + "x" + std::to_string(c.height) +
                     ":r=" + std::to_string(c.rate) + ":d=" + std::to_string(c.seconds));
    }
    if (c.tone > 0) {
        cmd += " -f lavfi -i " +
               quote("sine=f=" + std::to_string(int(c.tone)) + ":r=48000:d=" + std::to_string(c.seconds));
    }
    int audioInput = c.splitColor.empty() ? 1 : 2;
    const std::string noise = c.noise > 0 ? ",noise=alls=" + std::to_string(c.noise) + ":allf=t" : "";
    if (!c.splitColor.empty())
        cmd += " -filter_complex " + quote("[0:v][1:v]overlay=x=W/2:y=0" + noise + "[v]") + " -map '[v]'";
    else if (!noise.empty())
        cmd += " -filter_complex " + quote("[0:v]null" + noise + "[v]") + " -map '[v]'";
    else
        cmd += " -map 0:v";
    if (c.tone > 0) cmd += " -map " + std::to_string(audioInput) + ":a -c:a aac -b:a 128k";
    cmd += " -c:v libx264 -preset ultrafast -pix_fmt yuv420p -g " + std::to_string(c.keyFrameInterval);
    if (c.startOffset > 0) cmd += " -output_ts_offset " + std::to_string(c.startOffset);
    if (!c.rotate) return run(cmd + " " + quote(file.string()));
    // The display matrix is written when the streams are copied, not while encoding.
    const auto upright = std::filesystem::path(file).concat(".upright.mov");
    const bool ok = run(cmd + " " + quote(upright.string())) &&
                    run("ffmpeg -v error -y -i " + quote(upright.string()) +
                        " -c copy -metadata:s:v:0 rotate=" + std::to_string(c.rotate) + " " + quote(file.string()));
    std::filesystem::remove(upright);
    return ok;
}

inline nlohmann::json probe(const std::filesystem::path& file) {
    const auto text = capture("ffprobe -v error -show_streams -show_format -of json " + quote(file.string()));
    return nlohmann::json::parse(text, nullptr, false);
}

struct Rgb {
    double r = 0, g = 0, b = 0;
};

/// The mean colour of a box (fractions of the frame) of the frame shown at `seconds`, as ffmpeg decodes it
/// (rotated for display as ffmpeg does).
inline Rgb colorAt(const std::filesystem::path& file, double seconds, double x0 = 0.4, double y0 = 0.4, double x1 = 0.6,
                   double y1 = 0.6, int* width = nullptr, int* height = nullptr) {
    const auto info = probe(file);
    int w = 0, h = 0;
    for (const auto& s : info["streams"]) {
        if (s["codec_type"] == "video") {
            w = s["width"];
            h = s["height"];
        }
    }
    const auto raw = std::filesystem::path(file).concat(".frame.rgb");
    char ss[32];
    std::snprintf(ss, sizeof ss, "%.3f", seconds);
    run("ffmpeg -v error -y -ss " + std::string(ss) + " -i " + quote(file.string()) +
        " -frames:v 1 -f rawvideo -pix_fmt rgb24 " + quote(raw.string()));
    std::ifstream in(raw, std::ios::binary);
    std::vector<unsigned char> px((std::istreambuf_iterator<char>(in)), {});
    // A turned movie decodes turned: take the size from the bytes when they do not match.
    if (std::size_t(w) * h * 3 != px.size()) std::swap(w, h);
    if (width) *width = w;
    if (height) *height = h;
    Rgb sum;
    if (std::size_t(w) * h * 3 != px.size() || w == 0) return {-1, -1, -1};
    int n = 0;
    for (int y = int(y0 * h); y < int(y1 * h); ++y) {
        for (int x = int(x0 * w); x < int(x1 * w); ++x) {
            const auto* p = &px[(std::size_t(y) * w + x) * 3];
            sum.r += p[0];
            sum.g += p[1];
            sum.b += p[2];
            ++n;
        }
    }
    std::filesystem::remove(raw);
    return {sum.r / n, sum.g / n, sum.b / n};
}

/// Mono samples (left channel) of the sound from `seconds` for `length`, as ffmpeg decodes it.
inline std::vector<float> soundAt(const std::filesystem::path& file, double seconds, double length) {
    const auto raw = std::filesystem::path(file).concat(".sound.raw");
    char ss[64];
    std::snprintf(ss, sizeof ss, "-ss %.3f -t %.3f", seconds, length);
    run("ffmpeg -v error -y -i " + quote(file.string()) + " " + ss + " -map 0:a:0 -ac 2 -ar 48000 -f f32le " +
        quote(raw.string()));
    std::ifstream in(raw, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
    std::filesystem::remove(raw);
    std::vector<float> left;
    for (std::size_t i = 0; i + 8 <= bytes.size(); i += 8) {
        float v;
        std::memcpy(&v, &bytes[i], 4);
        left.push_back(v);
    }
    return left;
}

/// The amplitude of a sine of `frequency` in the samples (Goertzel).
inline double toneLevel(const std::vector<float>& samples, double frequency, double rate = 48000) {
    if (samples.empty()) return 0;
    const double w = 2 * M_PI * frequency / rate;
    double re = 0, im = 0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        re += samples[i] * std::cos(w * double(i));
        im -= samples[i] * std::sin(w * double(i));
    }
    return 2 * std::sqrt(re * re + im * im) / double(samples.size());
}

}  // namespace fixtures
