#include "platform/grapheme_to_phoneme.h"

#include <espeak-ng/speak_lib.h>

#include <array>
#include <mutex>
#include <utility>

namespace morvane {

namespace {

// espeak-ng's English phoneme mnemonics and the recogniser phones for each.
constexpr std::array<std::pair<std::string_view, std::string_view>, 82> phoneTable{{
    // Consonants.
    {"p", "P"},
    {"b", "B"},
    {"t", "T"},
    {"t#", "T"},
    {"t2", "T"},
    {"d", "D"},
    {"d#", "D"},
    {"k", "K"},
    {"g", "G"},
    {"f", "F"},
    {"v", "V"},
    {"T", "TH"},
    {"D", "DH"},
    {"s", "S"},
    {"z", "Z"},
    {"z#", "Z"},
    {"S", "SH"},
    {"Z", "ZH"},
    {"h", "HH"},
    {"tS", "CH"},
    {"dZ", "JH"},
    {"m", "M"},
    {"n", "N"},
    {"N", "NG"},
    {"l", "L"},
    {"l/", "L"},
    {"r", "R"},
    {"r-", "R"},
    {"j", "Y"},
    {"w", "W"},
    {"W", "W"},
    {"x", "K"},
    {"?", "T"},
    {"n-", "AH N"},
    {"m-", "AH M"},
    {"l-", "AH L"},
    {"C", "HH"},
    {"s2", "S"},
    {"z2", "Z"},
    {"n2", "N"},
    // Vowels.
    {"@", "AH"},
    {"@2", "AH"},
    {"@5", "AH"},
    {"@L", "AH L"},
    {"3", "ER"},
    {"3:", "ER"},
    {"a", "AE"},
    {"a#", "AH"},
    {"aa", "AE"},
    {"a2", "AH"},
    {"A:", "AA"},
    {"A@", "AA R"},
    {"A", "AA"},
    {"aI", "AY"},
    {"aI@", "AY ER"},
    {"aI3", "AY ER"},
    {"aU", "AW"},
    {"aU@", "AW ER"},
    {"e", "EH"},
    {"E", "EH"},
    {"E2", "EH"},
    {"e@", "EH R"},
    {"eI", "EY"},
    {"i", "IY"},
    {"i:", "IY"},
    {"i@", "IH R"},
    {"i@3", "IH R"},
    {"I", "IH"},
    {"I2", "IH"},
    {"I#", "IH"},
    {"0", "AA"},
    {"O", "AO"},
    {"O:", "AO"},
    {"O2", "AO"},
    {"O@", "AO R"},
    {"o@", "AO R"},
    {"oU", "OW"},
    {"OI", "OY"},
    {"U", "UH"},
    {"u:", "UW"},
}};

constexpr std::array<std::pair<std::string_view, std::string_view>, 6> moreVowels{{
    {"u", "UW"},
    {"U@", "UH R"},
    {"V", "AH"},
    {"VR", "ER"},
    {"IR", "IH R"},
    {"u@", "UH R"},
}};

std::optional<std::string_view> lookUp(std::string_view mnemonic) {
    for (const auto& [from, to] : phoneTable) {
        if (from == mnemonic) return to;
    }
    for (const auto& [from, to] : moreVowels) {
        if (from == mnemonic) return to;
    }
    return std::nullopt;
}

bool isStressMark(char c) {
    return c == '\'' || c == ',' || c == '%' || c == '=' || c == '!';
}

std::mutex espeakMutex;  // espeak-ng keeps global state
bool espeakReady = false;
bool espeakFailed = false;

bool startEspeak() {
    if (espeakReady) return true;
    if (espeakFailed) return false;
    if (espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, 0, nullptr, espeakINITIALIZE_DONT_EXIT) <= 0 ||
        espeak_SetVoiceByName("en-us") != EE_OK) {
        espeakFailed = true;
        return false;
    }
    espeakReady = true;
    return true;
}

bool isWordByte(unsigned char c) {
    // ASCII letters and apostrophes, and any byte of a multi-byte UTF-8 character (letters of other scripts).
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '\'' || c >= 0x80;
}

}  // namespace

std::string GraphemeToPhoneme::phonesFromEspeak(std::string_view mnemonics) {
    std::string phones;
    auto flush = [&](std::string_view piece) {
        while (!piece.empty() && isStressMark(piece.front())) piece.remove_prefix(1);
        while (!piece.empty() && isStressMark(piece.back())) piece.remove_suffix(1);
        if (piece.empty()) return;
        auto mapped = lookUp(piece);
        // Variants carry a digit or mark after the base name ("I2", "t#"): fall back to the base.
        while (!mapped && piece.size() > 1 &&
               (piece.back() == '#' || piece.back() == '/' || (piece.back() >= '0' && piece.back() <= '9'))) {
            piece.remove_suffix(1);
            mapped = lookUp(piece);
        }
        if (!mapped) return;
        if (!phones.empty()) phones += ' ';
        phones += *mapped;
    };
    std::size_t start = 0;
    for (std::size_t i = 0; i <= mnemonics.size(); ++i) {
        if (i == mnemonics.size() || mnemonics[i] == '_' || mnemonics[i] == ' ' || mnemonics[i] == '\n') {
            flush(mnemonics.substr(start, i - start));
            start = i + 1;
        }
    }
    return phones;
}

std::optional<std::string> GraphemeToPhoneme::pronounce(std::string_view word) {
    if (word.empty() || word.size() > 64) return std::nullopt;
    for (unsigned char c : word) {
        if (!isWordByte(c)) return std::nullopt;
    }
    std::string mnemonics;
    {
        std::lock_guard guard(espeakMutex);
        if (!startEspeak()) return std::nullopt;
        const std::string text(word);
        const void* cursor = text.c_str();
        // Mnemonics (not IPA), one phoneme per piece, pieces separated by '_'.
        const int mode = '_' << 8;
        while (cursor) {
            const char* piece = espeak_TextToPhonemes(&cursor, espeakCHARS_UTF8, mode);
            if (!piece) break;
            if (!mnemonics.empty()) mnemonics += ' ';
            mnemonics += piece;
        }
    }
    std::string phones = phonesFromEspeak(mnemonics);
    if (phones.empty()) return std::nullopt;
    return phones;
}

}  // namespace morvane
