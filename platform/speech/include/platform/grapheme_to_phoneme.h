#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace morvane {

/// Pronunciations for words that the recogniser's dictionary lacks: espeak-ng's US-English phonemes, mapped to
/// the recogniser's phone set (upper-case ARPAbet without stress marks, separated by single spaces, such as
/// "P EH M B AH L").
class GraphemeToPhoneme {
public:
    /// The phones of one word (letters and apostrophes; no spaces); none when espeak-ng is unavailable or the
    /// word gives no phone that maps.
    static std::optional<std::string> pronounce(std::string_view word);

    /// The likely readings of a word the dictionary lacks, `pronounce()`'s first: a made-up word's spelling
    /// leaves its vowels and stress open. Empty when the word cannot be pronounced.
    static std::vector<std::string> readings(std::string_view word);

    /// The readings of `spelling` from espeak-ng's mnemonics for it (as `phonesFromEspeak` takes them): espeak-ng's
    /// own first; then, when the spelling's vowels pair one to one with the reading's, the stressed vowel read the
    /// other way (short read long, long read short), and the stress on another syllable (the second when the
    /// first bears it, else the first: the vowel gaining it read short, the one losing it reduced). At most three,
    /// no two alike.
    static std::vector<std::string> readingsFromEspeak(std::string_view spelling, std::string_view mnemonics);

    /// Maps espeak-ng's phoneme mnemonics, one per piece between underscores (stress marks allowed, spaces
    /// between words), to recogniser phones. Mnemonics with no counterpart (pauses, glottal stops) are left
    /// out.
    static std::string phonesFromEspeak(std::string_view mnemonics);
};

}  // namespace morvane
