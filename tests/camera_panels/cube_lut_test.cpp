#include <gtest/gtest.h>

#include <sys/stat.h>

#include <bit>
#include <cstring>
#include <fstream>
#include <random>
#include <string>

#include "camera_panels/cube_lut.h"
#include "camera_panels/lut_import.h"
#include "temp_dir.h"

namespace morvane {
namespace {

std::string valueLines(int count, const char* line = "0.1 0.2 0.3\n") {
    std::string text;
    for (int i = 0; i < count; ++i) text += line;
    return text;
}

float floatAt(const Bytes& data, std::size_t index) {
    std::uint32_t bits = 0;
    for (int i = 3; i >= 0; --i) bits = (bits << 8) | data[index * 4 + static_cast<std::size_t>(i)];
    return std::bit_cast<float>(bits);
}

struct CubeCase {
    const char* name;
    std::string text;
    std::int64_t size;  // 0: no result
};

TEST(CubeLUTParser, TableOfTexts) {
    const std::string eight = valueLines(8);
    const CubeCase cases[] = {
        {"empty", "", 0},
        {"only comments and blanks", "# a\n\n   \n# LUT_3D_SIZE 2\n", 0},
        {"2 with 8 lines", "LUT_3D_SIZE 2\n" + eight, 2},
        {"2 with 7 lines", "LUT_3D_SIZE 2\n" + valueLines(7), 0},
        {"2 with 9 lines", "LUT_3D_SIZE 2\n" + valueLines(9), 0},
        {"size 1", "LUT_3D_SIZE 1\n0 0 0\n", 0},
        {"size 17.0 is no size line", "LUT_3D_SIZE 17.0\n" + eight, 0},
        {"keyword in lower case", "lut_3d_size 2\n" + eight, 0},
        {"last size counts", "LUT_3D_SIZE 3\nLUT_3D_SIZE 2\n" + eight, 2},
        {"values before the size", eight + "LUT_3D_SIZE 2\n", 2},
        {"title and domain ignored", "TITLE \"Warm\"\nDOMAIN_MIN 0 0 0\nLUT_3D_SIZE 2\n" + eight, 2},
        {"trailing comment leaves a line out", "LUT_3D_SIZE 2\n" + valueLines(7) + "0 0 0 # last\n", 0},
        {"nan accepted while reading, refused at the end", "LUT_3D_SIZE 2\n" + valueLines(7) + "nan 0 0\n", 0},
        {"inf refused at the end", "LUT_3D_SIZE 2\n" + valueLines(7) + "INF 0 0\n", 0},
        {"overflowing value refused", "LUT_3D_SIZE 2\n" + valueLines(7) + "1e39 0 0\n", 0},
        {"windows line endings and tabs", "LUT_3D_SIZE 2\r\n" + valueLines(8, "0.1\t0.2\t0.3\r\n"), 2},
        {"old mac line endings", "LUT_3D_SIZE 2\r" + valueLines(8, "0 0 0\r"), 2},
        {"unicode separators", "LUT_3D_SIZE\u00A02\u2028" + valueLines(8, "0\u20030 0\u2029"), 2},
        {"signed and hexadecimal", "LUT_3D_SIZE +2\n" + valueLines(8, "-0.1 0x1.8p0 +1.5e0\n"), 2},
        {"size with a stray letter", "LUT_3D_SIZE 2x\n" + eight, 0},
        {"huge size", "LUT_3D_SIZE 9223372036854775807\n" + eight, 0},
        {"size beyond 64 bits", "LUT_3D_SIZE 99999999999999999999\n" + eight, 0},
        {"negative size", "LUT_3D_SIZE -2\n" + eight, 0},
        {"1D table", "LUT_1D_SIZE 2\n0 0 0\n1 1 1\n", 0},
        {"two numbers and four numbers ignored", "LUT_3D_SIZE 2\n1 2\n1 2 3 4\n" + eight, 2},
        {"bare sign is no number", "LUT_3D_SIZE 2\n" + valueLines(7) + "- 0 0\n", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto lut = parseCubeLUT(c.text);
        if (c.size == 0) {
            EXPECT_FALSE(lut.has_value());
        } else {
            ASSERT_TRUE(lut.has_value());
            EXPECT_EQ(lut->size, c.size);
            EXPECT_EQ(lut->data.size(), static_cast<std::size_t>(c.size * c.size * c.size * 3 * 4));
        }
    }
}

TEST(CubeLUTParser, ValuesKeepFileOrderAndAreLittleEndian) {
    std::string text = "LUT_3D_SIZE 2\n";
    for (int i = 0; i < 8; ++i) text += std::to_string(i) + " -0.1 1.5\n";
    const auto lut = parseCubeLUT(text);
    ASSERT_TRUE(lut);
    for (std::size_t i = 0; i < 8; ++i) {
        EXPECT_EQ(floatAt(lut->data, i * 3), static_cast<float>(i));
        EXPECT_EQ(floatAt(lut->data, i * 3 + 1), -0.1f);
        EXPECT_EQ(floatAt(lut->data, i * 3 + 2), 1.5f);
    }
    // 1.0f is 0x3F800000: its low byte comes first.
    EXPECT_EQ(lut->data[12], 0x00);
    EXPECT_EQ(lut->data[15], 0x3F);
}

TEST(CubeLUTParser, LargestTable) {
    std::string text = "TITLE \"Generated\"\nLUT_3D_SIZE 64\n";
    text.reserve(64 * 64 * 64 * 24);
    for (int b = 0; b < 64; ++b) {
        for (int g = 0; g < 64; ++g) {
            for (int r = 0; r < 64; ++r) {
                text += std::to_string(r / 63.0) + " " + std::to_string(g / 63.0) + " " + std::to_string(b / 63.0) +
                        "\n";
            }
        }
    }
    const auto lut = parseCubeLUT(text);
    ASSERT_TRUE(lut);
    EXPECT_EQ(lut->size, 64);
    EXPECT_EQ(lut->data.size(), 3'145'728u);
    EXPECT_NEAR(floatAt(lut->data, 3), 1 / 63.0f, 1e-6);  // red runs fastest, as listed
    EXPECT_FLOAT_EQ(floatAt(lut->data, 64 * 64 * 64 * 3 - 1), 1.0f);
    EXPECT_FALSE(parseCubeLUT(text + "0 0 0\n"));
}

TEST(CubeLUTParser, RandomBytesNeverCrash) {
    std::mt19937 random(7);
    for (int round = 0; round < 200; ++round) {
        std::string text(static_cast<std::size_t>(random() % 4096), '\0');
        for (auto& c : text) c = static_cast<char>(random());
        if (round % 2) text = "LUT_3D_SIZE 2\n" + text;
        EXPECT_FALSE(parseCubeLUT(text).has_value());
    }
}

class LUTImport : public ::testing::Test {
protected:
    std::filesystem::path write(const std::string& name, const std::string& contents) {
        const auto path = dir / name;
        std::ofstream(path, std::ios::binary) << contents;
        return path;
    }
    static std::string table(int size) {
        return "LUT_3D_SIZE " + std::to_string(size) + "\n" + valueLines(size * size * size, "0.25 0.5 0.75\n");
    }
    test::TempDir dir;
};

TEST_F(LUTImport, NamesAndSizes) {
    const auto film = loadCustomLUTCommand(write("Film Look.cube", table(33)));
    ASSERT_TRUE(film);
    EXPECT_EQ(film->name, "Film Look");
    EXPECT_EQ(film->size, 33);
    EXPECT_EQ(film->data.size(), 431'244u);
    EXPECT_EQ(loadCustomLUTCommand(write("grade", table(2)))->name, "grade");
    EXPECT_EQ(loadCustomLUTCommand(write("a.b.cube", table(2)))->name, "a.b");
}

TEST_F(LUTImport, RefusedFiles) {
    EXPECT_FALSE(loadCustomLUTCommand(dir / "missing.cube"));
    EXPECT_FALSE(loadCustomLUTCommand(dir.path()));
    EXPECT_FALSE(loadCustomLUTCommand(write("one.cube", "LUT_1D_SIZE 2\n0 0 0\n1 1 1\n")));
    EXPECT_FALSE(loadCustomLUTCommand(write("big.cube", table(65))));
    EXPECT_FALSE(loadCustomLUTCommand(write("latin1.cube", table(2) + "# caf\xE9\n")));
    EXPECT_FALSE(loadCustomLUTCommand(write("overlong.cube", table(2) + "# \xC0\xAF\n")));
    EXPECT_TRUE(loadCustomLUTCommand(write("utf8.cube", table(2) + "# café ×\n")));
    EXPECT_FALSE(loadCustomLUTCommand("/dev/zero"));
    const auto fifo = dir / "pipe.cube";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(loadCustomLUTCommand(fifo));  // refused at once, not waiting for a writer
}

TEST_F(LUTImport, SizeLimitComesBeforeReading) {
    // Exactly the limit is read and parsed; one byte more is refused by its size. The large file is sparse, so
    // refusing it quickly shows it was not read.
    std::string atLimit = table(2);
    atLimit += "#" + std::string(maxLUTFileBytes - atLimit.size() - 2, ' ') + "\n";
    ASSERT_EQ(atLimit.size(), maxLUTFileBytes);
    EXPECT_TRUE(loadCustomLUTCommand(write("limit.cube", atLimit)));

    const auto huge = write("huge.cube", table(2));
    std::filesystem::resize_file(huge, 20'000'000);
    EXPECT_FALSE(loadCustomLUTCommand(huge));
    std::filesystem::resize_file(huge, 8'000'000'000);
    EXPECT_FALSE(loadCustomLUTCommand(huge));
}

}  // namespace
}  // namespace morvane
