#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace morvane {

/// Pronunciations for words that the recogniser's dictionary lacks: espeak-ng's US-English phonemes, mapped to
/// the recogniser's phone set (upper-case ARPAbet without stress marks, separated by single spaces, such as
/// "P EH M B AH L").
class GraphemeToPhoneme {
public:
    /// The phones of one word (letters and apostrophes; no spaces); none when espeak-ng is unavailable or the
    /// word gives no phone that maps.
    static std::optional<std::string> pronounce(std::string_view word);

    /// Maps espeak-ng's phoneme mnemonics, one per piece between underscores (stress marks allowed, spaces
    /// between words), to recogniser phones. Mnemonics with no counterpart (pauses, glottal stops) are left
    /// out.
    static std::string phonesFromEspeak(std::string_view mnemonics);
};

}  // namespace morvane
