// A take's journal as found beside a movie cut off, the input also standing for the movie: whatever reads whole is
// written again and reads back the same, and its samples are looked at as the recovery looks at them.

#include <cmath>

#include "camera/take_journal.h"
#include "camera/take_recovery.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace morvane;
    using fuzz::require;
    const fuzz::Input input(data, size);
    auto read = readJournal(fuzz::text(input));
    if (read.state != JournalReader::State::whole) return 0;

    std::string again = journalHeaderBytes(read.header);
    for (const auto& s : read.samples) again += journalRecordBytes(s);
    auto back = readJournal(again);
    require(back.state == JournalReader::State::whole, "a journal read whole did not read again");
    require(back.samples == read.samples, "a journal's records changed on their way back");
    require(journalHeaderBytes(back.header) == journalHeaderBytes(read.header),
            "a journal's header changed on its way back");

    WholeSamples samples(read.header, static_cast<std::int64_t>(size));
    for (const auto& s : read.samples) {
        if (samples.placed(s)) {
            const auto bytes = input.subspan(static_cast<std::size_t>(s.offset), static_cast<std::size_t>(s.size));
            if (samples.whole(s, bytes)) {
                require(samples.end() == s.offset + s.size && samples.end() <= static_cast<std::int64_t>(size),
                        "a whole sample lies outside the movie");
                // Now and then the muxer refuses one.
                if (s.offset % 7 == 0) samples.refused(s);
                continue;
            }
        }
        samples.passOver(s);
    }
    const double passedOver = samples.secondsPassedOver();
    require(std::isfinite(passedOver) && passedOver >= 0, "the time passed over is no length");
    return 0;
}
