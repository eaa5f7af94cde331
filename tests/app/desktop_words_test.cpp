// Every text the screens, the help page, the camera and the camera program can show, read from their sources,
// against the words that name another platform's devices, applications, folders and touch gestures: none may remain.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Text {
    std::string file;
    int line;
    std::string text;
};

std::string readAll(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

/// The string literals of a C++ source, comments and #include lines left out; literals with only white space
/// or comments between them are one text, as the compiler joins them.
std::vector<Text> literalsOf(const std::string& file, const std::string& source) {
    std::vector<Text> texts;
    bool joinable = false;  // nothing but space and comments since the last literal
    int line = 1;
    std::size_t i = 0;
    auto add = [&](std::string text, int at) {
        if (joinable && !texts.empty())
            texts.back().text += text;
        else
            texts.push_back({file, at, std::move(text)});
        joinable = true;
    };
    while (i < source.size()) {
        const char c = source[i];
        if (c == '\n') {
            ++line;
            ++i;
        } else if (c == '/' && i + 1 < source.size() && source[i + 1] == '/') {
            while (i < source.size() && source[i] != '\n') ++i;
        } else if (c == '/' && i + 1 < source.size() && source[i + 1] == '*') {
            const auto end = source.find("*/", i + 2);
            const auto stop = end == std::string::npos ? source.size() : end + 2;
            for (; i < stop; ++i) line += source[i] == '\n';
        } else if (c == '#' && source.compare(i, 8, "#include") == 0) {
            while (i < source.size() && source[i] != '\n') ++i;
        } else if (c == 'R' && i + 1 < source.size() && source[i + 1] == '"') {
            const auto open = source.find('(', i + 2);
            const std::string close = ")" + source.substr(i + 2, open - i - 2) + "\"";
            const auto end = source.find(close, open);
            const int at = line;
            const std::string text = source.substr(open + 1, end - open - 1);
            for (char t : text) line += t == '\n';
            add(text, at);
            i = end + close.size();
        } else if (c == '"') {
            std::string text;
            ++i;
            while (i < source.size() && source[i] != '"') {
                if (source[i] == '\\' && i + 1 < source.size()) {
                    text += source[i + 1] == 'n' ? '\n' : source[i + 1];
                    i += 2;
                } else {
                    text += source[i++];
                }
            }
            ++i;
            add(text, line);
        } else if (c == '\'' && (i == 0 || !std::isalnum(static_cast<unsigned char>(source[i - 1])))) {
            // A character literal (not a digit separator).
            i += source[i + 1] == '\\' ? 4 : 3;
            joinable = false;
        } else {
            if (!std::isspace(static_cast<unsigned char>(c))) joinable = false;
            ++i;
        }
    }
    return texts;
}

/// The words a page shows: everything outside its tags.
std::vector<Text> pageTexts(const std::string& file, const std::string& page) {
    std::vector<Text> texts;
    int line = 1;
    std::string text;
    bool inTag = false;
    for (char c : page) {
        if (c == '<') inTag = true;
        if (!inTag) text += c;
        if (c == '>') {
            inTag = false;
            text += ' ';
        }
        if (c == '\n') {
            texts.push_back({file, line++, text});
            text.clear();
        }
    }
    texts.push_back({file, line, text});
    return texts;
}

std::vector<Text> everyText() {
    const fs::path root(MORVANE_SOURCE_DIR);
    std::vector<Text> texts;
    for (const char* folder : {"app", "camera", "camera_panels", "deck_ui", "remote", "tools/camera"}) {
        for (const auto& entry : fs::recursive_directory_iterator(root / folder)) {
            const auto ext = entry.path().extension();
            if (ext != ".cpp" && ext != ".h") continue;
            const auto found = literalsOf(fs::relative(entry.path(), root).string(), readAll(entry.path()));
            texts.insert(texts.end(), found.begin(), found.end());
        }
    }
    for (const auto& entry : fs::directory_iterator(root / "resources" / "Help")) {
        if (entry.path().extension() != ".html") continue;
        const auto found = pageTexts(fs::relative(entry.path(), root).string(), readAll(entry.path()));
        texts.insert(texts.end(), found.begin(), found.end());
    }
    return texts;
}

TEST(DesktopWords, NoTextNamesAnotherPlatform) {
    struct Word {
        const char* name;
        std::regex pattern;
    };
    const Word words[] = {
        {"iPhone", std::regex(R"(\b(iPhone|iPad|iOS)s?\b)")},
        {"Mac", std::regex(R"(\bMac(s|OS)?\b)")},
        {"phone", std::regex(R"(\b[Pp]hones?\b)")},
        {"tap", std::regex(R"(\b[Tt]ap(s|ped|ping)?\b)")},
        {"swipe", std::regex(R"(\b[Ss]wip(e|es|ed|ing)\b)")},
        {"Movies", std::regex(R"(\bMovies\b)")},
        // Photographs stay photos; the application of that name does not.
        {"Photos", std::regex(R"(\bPhotos\b(?! and (videos|recordings)))")},
        {"Finder", std::regex(R"(\bFinder\b)")},
        // Speech runs on the installed model; there is no dictation switch to turn on.
        {"Dictation", std::regex(R"(\bDictation\b)")},
        {"General › Keyboard", std::regex(R"(General › Keyboard)")},
        // A file is opened with the desktop's application for it; nothing is shared.
        {"Share", std::regex(R"(\bShare\b)")},
        // The other platform's settings application and its pages.
        {"System Settings", std::regex(R"(\bSystem Settings\b|Privacy & Security)")},
        // Its maker's names for colour profiles and gamuts that no camera here records.
        {"Apple", std::regex(R"(\bApple\b)")},
    };
    const auto texts = everyText();
    ASSERT_GT(texts.size(), 1000u) << "the sources were read";
    for (const auto& text : texts) {
        for (const auto& word : words) {
            EXPECT_FALSE(std::regex_search(text.text, word.pattern))
                << text.file << ":" << text.line << " names \"" << word.name << "\": " << text.text;
        }
    }
}

TEST(DesktopWords, TheReaderFindsTextsAsTheCompilerJoinsThem) {
    const auto texts = literalsOf("x.cpp",
                                  "#include \"tap.h\"\n"
                                  "// tap here\n"
                                  "auto a = QStringLiteral(\"Swipe \" /* x */\n  \"left\"); int n = 1'000'000;\n"
                                  "char c = '\"'; auto r = R\"(raw \"iPhone\")\";\n");
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0].text, "Swipe left");
    EXPECT_EQ(texts[0].line, 3);
    EXPECT_EQ(texts[1].text, "raw \"iPhone\"");
    EXPECT_EQ(texts[1].line, 5);
}

}  // namespace
