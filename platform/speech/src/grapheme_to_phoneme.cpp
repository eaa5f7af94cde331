#include "platform/grapheme_to_phoneme.h"

#include <espeak-ng/speak_lib.h>

#include <algorithm>
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

namespace {

/// One espeak-ng phoneme as recogniser phones (a vowel with an r may give two), and whether it bears the word's
/// main stress.
struct Piece {
    std::vector<std::string> phones;
    bool stressed = false;
};

std::vector<Piece> piecesFromEspeak(std::string_view mnemonics) {
    std::vector<Piece> pieces;
    auto flush = [&](std::string_view piece) {
        bool stressed = false;
        while (!piece.empty() && isStressMark(piece.front())) {
            stressed = stressed || piece.front() == '\'';
            piece.remove_prefix(1);
        }
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
        Piece out{{}, stressed};
        for (std::size_t at = 0; at < mapped->size();) {
            const auto space = std::min(mapped->find(' ', at), mapped->size());
            out.phones.emplace_back(mapped->substr(at, space - at));
            at = space + 1;
        }
        pieces.push_back(std::move(out));
    };
    std::size_t start = 0;
    for (std::size_t i = 0; i <= mnemonics.size(); ++i) {
        if (i == mnemonics.size() || mnemonics[i] == '_' || mnemonics[i] == ' ' || mnemonics[i] == '\n') {
            flush(mnemonics.substr(start, i - start));
            start = i + 1;
        }
    }
    return pieces;
}

std::string joined(const std::vector<Piece>& pieces) {
    std::string phones;
    for (const auto& piece : pieces) {
        for (const auto& phone : piece.phones) {
            if (!phones.empty()) phones += ' ';
            phones += phone;
        }
    }
    return phones;
}

bool isVowelPhone(std::string_view phone) {
    static constexpr std::array<std::string_view, 15> vowels{"AA", "AE", "AH", "AO", "AW", "AY", "EH", "ER",
                                                             "EY", "IH", "IY", "OW", "OY", "UH", "UW"};
    return std::find(vowels.begin(), vowels.end(), phone) != vowels.end();
}

bool isVowelLetter(char c) {
    return c == 'a' || c == 'e' || c == 'i' || c == 'o' || c == 'u';
}

/// A vowel letter's short and long readings ("a" as in "cat" and "cake").
std::optional<std::pair<std::string_view, std::string_view>> shortAndLong(char letter) {
    switch (letter) {
        case 'a':
            return std::pair{"AE", "EY"};
        case 'e':
            return std::pair{"EH", "IY"};
        case 'i':
        case 'y':
            return std::pair{"IH", "AY"};
        case 'o':
            return std::pair{"AA", "OW"};
        case 'u':
            return std::pair{"AH", "UW"};
        default:
            return std::nullopt;
    }
}

/// The spelling's vowels, each a run of vowel letters ("y" after the first letter counts as one).
std::vector<std::string> vowelGroups(std::string_view spelling) {
    std::vector<std::string> groups;
    bool inGroup = false;
    for (std::size_t i = 0; i < spelling.size(); ++i) {
        char c = spelling[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        const bool vowel = isVowelLetter(c) || (c == 'y' && i > 0);
        if (vowel && inGroup) {
            groups.back() += c;
        } else if (vowel) {
            groups.emplace_back(1, c);
        }
        inGroup = vowel;
    }
    return groups;
}

}  // namespace

std::string GraphemeToPhoneme::phonesFromEspeak(std::string_view mnemonics) {
    return joined(piecesFromEspeak(mnemonics));
}

std::vector<std::string> GraphemeToPhoneme::readingsFromEspeak(std::string_view spelling, std::string_view mnemonics) {
    auto pieces = piecesFromEspeak(mnemonics);
    std::vector<std::string> readings;
    auto add = [&](const std::vector<Piece>& reading) {
        auto phones = joined(reading);
        if (!phones.empty() && std::find(readings.begin(), readings.end(), phones) == readings.end()) {
            readings.push_back(std::move(phones));
        }
    };
    add(pieces);
    if (readings.empty()) return readings;

    // Pair the reading's vowels with the spelling's; a silent final "e" ("flimbe") has none.
    std::vector<std::size_t> vowels;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (isVowelPhone(pieces[i].phones.front())) vowels.push_back(i);
    }
    auto groups = vowelGroups(spelling);
    const bool silentE = spelling.size() > 1 && groups.size() == vowels.size() + 1 && groups.back() == "e" &&
                         (spelling.back() == 'e' || spelling.back() == 'E');
    if (silentE) groups.pop_back();
    if (vowels.empty() || groups.size() != vowels.size()) return readings;

    // A vowel open to another reading: one letter for one vowel phone.
    auto letterOf = [&](std::size_t v) -> std::optional<std::pair<std::string_view, std::string_view>> {
        if (groups[v].size() != 1 || pieces[vowels[v]].phones.size() != 1) return std::nullopt;
        return shortAndLong(groups[v].front());
    };
    std::size_t stressed = 0;
    for (std::size_t v = 0; v < vowels.size(); ++v) {
        if (pieces[vowels[v]].stressed) stressed = v;
    }
    if (const auto values = letterOf(stressed)) {
        auto swapped = pieces;
        auto& phone = swapped[vowels[stressed]].phones.front();
        if (phone == values->first) {
            phone = values->second;
        } else if (phone == values->second) {
            phone = values->first;
        }
        add(swapped);
    }

    // The stress on the syllable after the first, else on the first.
    if (vowels.size() < 2) return readings;
    const std::size_t gains = stressed == 0 ? 1 : 0;
    const auto values = letterOf(gains);
    if (!values) return readings;
    auto shifted = pieces;
    if (auto& phone = shifted[vowels[gains]].phones.front(); phone != values->first && phone != values->second) {
        phone = values->first;
    }
    if (auto& loses = shifted[vowels[stressed]].phones; loses.size() == 1) loses.front() = "AH";
    add(shifted);
    return readings;
}

std::optional<std::string> GraphemeToPhoneme::pronounce(std::string_view word) {
    auto all = readings(word);
    if (all.empty()) return std::nullopt;
    return std::move(all.front());
}

std::vector<std::string> GraphemeToPhoneme::readings(std::string_view word) {
    if (word.empty() || word.size() > 64) return {};
    for (unsigned char c : word) {
        if (!isWordByte(c)) return {};
    }
    std::string mnemonics;
    {
        std::lock_guard guard(espeakMutex);
        if (!startEspeak()) return {};
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
    return readingsFromEspeak(word, mnemonics);
}

}  // namespace morvane
