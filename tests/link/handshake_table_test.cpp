#include "handshake_table.h"

#include <gtest/gtest.h>

#include <set>
#include <utility>

namespace morvane::test {
namespace {

using Table = HandshakeTable;

// Each address has just ended unfinished connections, as one that keeps opening new ones does.
void renew(Table& table, const std::vector<std::string>& addresses, Table::Clock::time_point now) {
    for (const auto& address : addresses) {
        for (int i = 0; i < 3; ++i) table.endedUnfinished(address, now);
    }
}

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
        places.push_back({id, addresses[i], proven.count(id) ? Table::Stage::pairing : Table::Stage::greeting,
                          movedOn.count(id) ? now : accepted});
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
        std::set<std::uint64_t> trusted = {};
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
        {"full, but of connections that named a trusted key: those stand apart, room left",
         distinct(16),
         {},
         {},
         "10.1.1.1",
         true,
         std::nullopt,
         {},
         everyone},
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
        auto places = placesOf(c.addresses, c.proven, c.movedOn, now);
        for (auto& place : places) {
            if (c.trusted.count(place.id)) place.stage = Table::Stage::trusted;
        }
        const auto room = table.roomFor(c.newcomer, places, now);
        EXPECT_EQ(room.admit, c.admit);
        EXPECT_EQ(room.close, c.closes);
    }
}

// A connection that names a trusted key or shows a code moves to places of its own: one per trusted key, and a few
// pairing requests, one per address, where the one from the address that keeps renewing its connections goes first,
// and none is pushed out by a later one while its user may still be typing its code.
TEST(HandshakeTableTest, PairingRequestsAndTrustedKeysHavePlacesOfTheirOwn) {
    using Stage = Table::Stage;
    struct Held {
        std::string address;
        Stage stage;
        std::string key = {};
        bool answered = false;
    };
    struct Case {
        const char* what;
        std::vector<Held> held;             // ids 1, 2, ..., the oldest first
        Held mover;                         // the newest
        std::vector<std::string> renewing;  // addresses whose connections ended unfinished just now, thrice
        bool admit;
        std::optional<std::uint64_t> closes;
        int older = 0;  // seconds more that every held one has waited
    };
    // Requests from 10.0.0.1, 10.0.0.2, ..., the oldest first.
    auto requests = [](std::size_t count, bool answered = false) {
        std::vector<Held> out;
        for (std::size_t i = 1; i <= count; ++i)
            out.push_back({"10.0.0." + std::to_string(i), Stage::pairing, "", answered});
        return out;
    };
    const auto few = Table::maxPairings, all = Table::maxFreshPairings;
    const Held user{"10.0.0.9", Stage::pairing};
    const Held k1{"10.0.0.1", Stage::trusted, "K"}, l2{"10.0.0.2", Stage::trusted, "L"},
        k9{"10.0.0.9", Stage::trusted, "K"};
    const Case cases[] = {
        {"the first request", {{"10.0.0.1", Stage::greeting}}, user, {}, true, std::nullopt},
        {"room for the last", requests(all - 1), user, {}, true, std::nullopt},
        {"one per address: the older goes", requests(2), {"10.0.0.2", Stage::pairing}, {}, true, 2},
        {"one per address, accepted here: refused", requests(1, true), {"10.0.0.1", Stage::pairing}, {}, false, {}},
        {"few held, the newcomer's address not renewing: room", requests(few), user, {}, true, std::nullopt},
        {"few held within a user's time, the newcomer renewing: refused", requests(few), user, {"10.0.0.9"}, false, {}},
        {"few held past a user's time, the newcomer renewing: the oldest goes",
         requests(few),
         user,
         {"10.0.0.9"},
         true,
         1,
         10},
        {"few held, one renewing as much as the newcomer: refused",
         requests(few),
         user,
         {"10.0.0.3", "10.0.0.9"},
         false,
         {}},
        {"all held past a user's time: the oldest goes", requests(all), user, {}, true, 1, 10},
        {"all held within a user's time: a later request is refused", requests(all), user, {}, false, {}},
        {"all held: the renewing address's goes", requests(all), user, {"10.0.0.3"}, true, 3},
        {"all accepted here: refused", requests(all, true), user, {}, false, {}, 10},
        {"a trusted key named again: the older goes", {k1, l2}, k9, {}, true, 1},
    };
    const auto now = Table::Clock::now();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Table table;
        renew(table, c.renewing, now);
        std::vector<Table::Place> places;
        for (std::size_t i = 0; i <= c.held.size(); ++i) {
            const auto& h = i < c.held.size() ? c.held[i] : c.mover;
            const auto since = now - std::chrono::seconds(static_cast<long>(c.held.size() + 1 - i)) -
                               std::chrono::seconds(i < c.held.size() ? c.older : 0);
            places.push_back({i + 1, h.address, h.stage, since, h.key, h.answered});
        }
        const auto room = table.moveOn(places.back(), places, now);
        EXPECT_EQ(room.admit, c.admit);
        EXPECT_EQ(room.close, c.closes);
    }
}

// Of the codes under way, the camera shows the latest from an address that is not renewing its connections: a
// stranger who holds a request cannot keep it in view, nor one who keeps starting new ones.
TEST(HandshakeTableTest, ShowsTheLatestRequestOfAnAddressThatIsNotRenewing) {
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, bool>> requests;  // address, accepted here; the oldest first
        std::vector<std::string> renewing;
        std::optional<std::uint64_t> shown;
    };
    const Case cases[] = {
        {"none", {}, {}, std::nullopt},
        {"the latest", {{"10.0.0.1", false}, {"10.0.0.2", false}}, {}, 2},
        {"not when renewing", {{"10.0.0.1", false}, {"10.0.0.2", false}, {"10.0.0.3", false}}, {"10.0.0.3"}, 2},
        {"not one accepted here", {{"10.0.0.1", false}, {"10.0.0.2", true}}, {}, 1},
    };
    const auto now = Table::Clock::now();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Table table;
        renew(table, c.renewing, now);
        std::vector<Table::Place> places;
        for (std::size_t i = 0; i < c.requests.size(); ++i) {
            const auto since = now - std::chrono::seconds(static_cast<long>(c.requests.size() - i));
            places.push_back({i + 1, c.requests[i].first, Table::Stage::pairing, since, "", c.requests[i].second});
        }
        EXPECT_EQ(table.shown(places, now), c.shown);
    }
}

}  // namespace
}  // namespace morvane::test
