#include "handshake_table.h"

#include <gtest/gtest.h>

#include <set>
#include <utility>

namespace morvane::test {
namespace {

using Table = HandshakeTable;

// Connections from one new address each, oldest first.
std::vector<std::string> distinct(int count) {
    std::vector<std::string> out;
    for (int i = 1; i <= count; ++i) out.push_back("10.0.0." + std::to_string(i));
    return out;
}

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The places held, oldest first (ids 1, 2, ..., one accepted a second after the other); those in `proven` have a
// pairing under way, those in `movedOn` reached their present step of the handshake just now.
std::vector<Table::Place> placesOf(const std::vector<std::string>& addresses, const std::set<std::uint64_t>& proven,
                                   const std::set<std::uint64_t>& movedOn, Table::Clock::time_point now) {
    std::vector<Table::Place> places;
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        const auto id = static_cast<std::uint64_t>(i + 1);
        const auto accepted = now - std::chrono::seconds(static_cast<long>(addresses.size() - i));
        places.push_back({id, addresses[i], proven.count(id) > 0, movedOn.count(id) ? now : accepted});
    }
    return places;
}

TEST(HandshakeTableTest, NewcomerTakesThePlaceOfAConnectionThatShowedNothing) {
    struct Case {
        const char* what;
        std::vector<std::string> addresses;
        std::set<std::uint64_t> proven;
        std::vector<std::pair<std::string, double>> endings;  // an unfinished connection from there, seconds ago
        std::string newcomer;
        bool admit;
        std::optional<std::uint64_t> closes;
        std::set<std::uint64_t> movedOn = {};
    };
    const std::vector<std::string> neighbour(4, "10.9.9.9");
    std::set<std::uint64_t> everyone;
    for (std::uint64_t id = 1; id <= 16; ++id) everyone.insert(id);
    const std::vector<std::pair<std::string, double>> ninthEndedThrice{
        {"10.0.0.9", 3}, {"10.0.0.9", 2}, {"10.0.0.9", 1}};
    const Case cases[] = {
        {"room left", distinct(15), {}, {}, "10.1.1.1", true, std::nullopt},
        {"full: the oldest goes", distinct(16), {}, {}, "10.1.1.1", true, 1},
        {"full: a pairing under way stays, the oldest of the others goes",
         distinct(16),
         {1, 2},
         {},
         "10.1.1.1",
         true,
         3},
        {"full of pairings under way: the newcomer is refused",
         distinct(16),
         everyone,
         {},
         "10.1.1.1",
         false,
         std::nullopt},
        {"full: the address that holds the most goes first",
         distinct(13) + std::vector<std::string>(3, "10.9.9.9"),
         {},
         {},
         "10.1.1.1",
         true,
         14},
        {"its own address holds four: its oldest goes while the table has room",
         distinct(2) + neighbour,
         {},
         {},
         "10.9.9.9",
         true,
         3},
        {"its own address holds four pairings under way: refused",
         distinct(2) + neighbour,
         {3, 4, 5, 6},
         {},
         "10.9.9.9",
         false,
         std::nullopt},
        {"full: an address whose connections keep ending unfinished goes before older ones",
         distinct(16),
         {},
         ninthEndedThrice,
         "10.1.1.1",
         true,
         9},
        {"endings long ago count for nothing",
         distinct(16),
         {},
         {{"10.0.0.9", 120}, {"10.0.0.9", 110}, {"10.0.0.9", 100}},
         "10.1.1.1",
         true,
         1},
        {"full: one that just moved on to its next step stays, the one idle longest goes",
         distinct(16),
         {},
         {},
         "10.1.1.1",
         true,
         2,
         {1}},
        {"its own address holds four: one that just moved on stays",
         distinct(2) + neighbour,
         {},
         {},
         "10.9.9.9",
         true,
         4,
         {3}},
        {"more places outweigh more endings",
         distinct(13) + std::vector<std::string>(3, "10.9.9.9"),
         {},
         ninthEndedThrice,
         "10.1.1.1",
         true,
         14},
    };
    const auto now = Table::Clock::now();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Table table;
        for (const auto& [address, ago] : c.endings) {
            table.endedUnfinished(address, now - std::chrono::milliseconds(static_cast<long>(ago * 1000)));
        }
        const auto room = table.roomFor(c.newcomer, placesOf(c.addresses, c.proven, c.movedOn, now), now);
        EXPECT_EQ(room.admit, c.admit);
        EXPECT_EQ(room.close, c.closes);
    }
}

}  // namespace
}  // namespace morvane::test
