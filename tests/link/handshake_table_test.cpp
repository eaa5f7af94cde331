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
         distinct(18),
         {1, 2},
         {},
         "10.1.1.1",
         true,
         3},
        {"full of pairings under way: those have places of their own, room left",
         distinct(16),
         everyone,
         {},
         "10.1.1.1",
         true,
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

// A connection that names a trusted key or shows a code moves to places of its own: one per trusted key, and many
// pairing requests, one per address. None is pushed out while its user may still be reading its code, at the remote or
// on the camera's screen, whatever came before or after it and from wherever; past that time the one from the address
// that keeps renewing its connections goes first, then the oldest.
TEST(HandshakeTableTest, PairingRequestsAndTrustedKeysHavePlacesOfTheirOwn) {
    using Stage = Table::Stage;
    constexpr double never = -1;
    struct Held {
        std::string address;
        Stage stage;
        double age;  // seconds since it reached its stage
        std::string key = {};
        bool answered = false;
        double onScreen = never;  // seconds since the camera's screen last showed its code (0: it shows it now)
    };
    struct Case {
        const char* what;
        std::vector<Held> held;             // ids 1, 2, ...
        Held mover;                         // the newest
        std::vector<std::string> renewing;  // addresses whose connections ended unfinished just now, thrice
        bool admit;
        std::optional<std::uint64_t> closes;
    };
    // Requests from 10.0.x.y, ids 1, 2, ..., evenly from `oldest` to `newest` seconds old.
    auto requests = [](std::size_t count, double oldest, double newest, bool answered = false) {
        std::vector<Held> out;
        for (std::size_t i = 0; i < count; ++i) {
            const double age = count == 1 ? oldest : oldest + (newest - oldest) * double(i) / double(count - 1);
            out.push_back({"10.0." + std::to_string((i + 1) / 256) + "." + std::to_string((i + 1) % 256),
                           Stage::pairing, age, "", answered});
        }
        return out;
    };
    auto with = [](std::vector<Held> held, std::size_t id, auto change) {
        change(held[id - 1]);
        return held;
    };
    const auto all = Table::maxPairings;
    const double keep = std::chrono::duration<double>(Table::pairingKeep).count();
    const Held user{"10.9.0.9", Stage::pairing, 0};
    const Held k1{"10.0.0.1", Stage::trusted, 2, "K"}, l2{"10.0.0.2", Stage::trusted, 1, "L"},
        k9{"10.0.0.9", Stage::trusted, 0, "K"};
    const Case cases[] = {
        {"the first request", {{"10.0.0.1", Stage::greeting, 1}}, user, {}, true, std::nullopt},
        {"one per address: the older goes", requests(2, 2, 1), {"10.0.0.2", Stage::pairing, 0}, {}, true, 2},
        {"one per address, accepted here: refused",
         requests(1, 1, 1, true),
         {"10.0.0.1", Stage::pairing, 0},
         {},
         false,
         {}},
        {"room for the last", requests(all - 1, 2, 1), user, {}, true, std::nullopt},
        {"room for the last, every address renewing",
         requests(all - 1, 2, 1),
         user,
         {"10.0.0.3", "10.9.0.9"},
         true,
         std::nullopt},
        {"all held past a user's time: the oldest goes", requests(all, keep + 20, keep + 1), user, {}, true, 1},
        {"all held past a user's time: the renewing address's goes",
         requests(all, keep + 20, keep + 1),
         user,
         {"10.0.0.3"},
         true,
         3},
        {"all held within a user's time: a later request is refused", requests(all, keep - 1, 0), user, {}, false, {}},
        {"all held within a user's time, the held renewing and the newcomer not: refused all the same",
         requests(all, keep - 1, 0),
         user,
         {"10.0.0.1", "10.0.0.2", "10.0.0.3"},
         false,
         {}},
        {"a request of 35 s among older ones past a user's time: it stays",
         with(requests(all, keep + 20, keep + 1), 1, [&](Held& h) { h.age = keep - 5; }),
         user,
         {},
         true,
         2},
        {"the oldest on the camera's screen now: it stays, the next goes",
         with(requests(all, keep + 20, keep + 1), 1, [](Held& h) { h.onScreen = 0; }),
         user,
         {},
         true,
         2},
        {"the oldest shown on the camera's screen until 30 s ago: it stays",
         with(requests(all, keep + 20, keep + 1), 1, [&](Held& h) { h.onScreen = keep - 10; }),
         user,
         {},
         true,
         2},
        {"the oldest shown on the camera's screen past a user's time: it goes",
         with(requests(all, keep + 20, keep + 1), 1, [&](Held& h) { h.onScreen = keep + 10; }),
         user,
         {},
         true,
         1},
        {"all accepted here: refused", requests(all, keep + 20, keep + 1, true), user, {}, false, {}},
        {"a trusted key named again: the older goes", {k1, l2}, k9, {}, true, 1},
    };
    const auto now = Table::Clock::now();
    auto ago = [&](double seconds) {
        return now - std::chrono::duration_cast<Table::Clock::duration>(std::chrono::duration<double>(seconds));
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Table table;
        renew(table, c.renewing, now);
        std::vector<Table::Place> places;
        for (std::size_t i = 0; i <= c.held.size(); ++i) {
            const auto& h = i < c.held.size() ? c.held[i] : c.mover;
            places.push_back({i + 1, h.address, h.stage, ago(h.age), h.key, h.answered,
                              h.onScreen == never ? Table::Clock::time_point{} : ago(h.onScreen)});
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
