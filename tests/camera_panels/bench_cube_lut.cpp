// Benchmark: the import of the largest table a .cube file may hold (64 entries per axis), which runs on the
// main thread while the person waits: reading the file, the UTF-8 check and the parse.
//
//   bench_cube_lut [rounds]

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "camera_panels/cube_lut.h"
#include "camera_panels/lut_import.h"

int main(int argc, char** argv) {
    using Clock = std::chrono::steady_clock;
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    std::string text = "TITLE \"Benchmark\"\nLUT_3D_SIZE 64\n";
    char line[96];
    for (int b = 0; b < 64; ++b) {
        for (int g = 0; g < 64; ++g) {
            for (int r = 0; r < 64; ++r) {
                std::snprintf(line, sizeof line, "%.6f %.6f %.6f\n", r / 63.0, g / 63.0, b / 63.0);
                text += line;
            }
        }
    }
    const auto file = std::filesystem::temp_directory_path() / "morvane-bench-64.cube";
    std::ofstream(file, std::ios::binary) << text;

    double parseBest = 1e9, importBest = 1e9;
    for (int i = 0; i < rounds; ++i) {
        auto start = Clock::now();
        const auto lut = morvane::parseCubeLUT(text);
        const double parse = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        start = Clock::now();
        const auto command = morvane::loadCustomLUTCommand(file);
        const double import = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        if (!lut || !command || command->data.size() != 3'145'728) {
            std::fprintf(stderr, "the table did not parse\n");
            return 1;
        }
        parseBest = std::min(parseBest, parse);
        importBest = std::min(importBest, import);
    }
    std::filesystem::remove(file);
    std::printf("64x64x64 table, %zu bytes of text: parse %.1f ms, whole import (read, UTF-8 check, parse) %.1f ms "
                "(best of %d)\n",
                text.size(), parseBest, importBest, rounds);
    return 0;
}
