// Benchmark: the import of the largest table a .cube file may hold (64 entries per axis), which runs on the
// main thread while the person waits: reading the file, the UTF-8 check and the parse.
//
//   bench_cube_lut [rounds]
//
// Prints the median of the rounds with the fastest and slowest as the spread.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "camera_panels/cube_lut.h"
#include "camera_panels/lut_import.h"

int main(int argc, char** argv) {
    using Clock = std::chrono::steady_clock;
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 11;
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

    std::vector<double> parses, imports;
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
        parses.push_back(parse);
        imports.push_back(import);
    }
    std::filesystem::remove(file);
    auto median = [](std::vector<double>& v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    const double parse = median(parses), import = median(imports);
    std::printf("64x64x64 table, %zu bytes of text, median of %d rounds:\n", text.size(), rounds);
    std::printf("  parse %.1f ms (%.1f to %.1f)\n", parse, parses.front(), parses.back());
    std::printf("  whole import (read, UTF-8 check, parse) %.1f ms (%.1f to %.1f)\n", import, imports.front(),
                imports.back());
    return 0;
}
