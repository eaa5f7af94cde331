#include "nearby_invitations.h"

#include <gtest/gtest.h>

namespace morvane::test {
namespace {

using Address = NearbyInvitations::Address;

TEST(NearbyInvitationsTest, TriesEveryAddressAnnouncedForTheKeyLately) {
    const Bytes key(32, 7);
    const PeerId id{Uuid()};
    auto camera = [&](std::uint16_t port, const Bytes& k) {
        return NearbyInvitations::Camera{id, "Cam", k, "127.0.0.1", port};
    };
    struct Case {
        const char* what;
        std::vector<std::uint16_t> announced;  // ports, in the order announced
        std::optional<std::uint16_t> answeredAt;
        std::vector<std::uint16_t> tried;
    };
    const Case cases[] = {
        {"one address", {9000}, std::nullopt, {9000}},
        {"a forged port after the genuine one: both, the latest first",
         {9000, 9666, 9666, 9666},
         std::nullopt,
         {9666, 9000}},
        {"where it last answered comes first", {9000, 9666}, 9000, {9000, 9666}},
        {"at most eight, the ones heard of longest ago go",
         {9000, 9001, 9002, 9003, 9004, 9005, 9006, 9007, 9008},
         std::nullopt,
         {9008, 9007, 9006, 9005, 9004, 9003, 9002, 9001}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        NearbyInvitations invitations(0.5, 4, 60);
        for (auto port : c.announced) invitations.announced(camera(port, key));
        if (c.answeredAt) invitations.answeredAt(key, {"127.0.0.1", *c.answeredAt});
        std::vector<std::uint16_t> tried;
        for (const auto& [address, port] : invitations.addressesOf(*invitations.find(id))) tried.push_back(port);
        EXPECT_EQ(tried, c.tried);
    }
}

TEST(NearbyInvitationsTest, AddressesAreForgottenWhenOldOrWhenTheirKeyLeaves) {
    const Bytes key(32, 7), other(32, 8);
    const PeerId id{Uuid()};
    NearbyInvitations invitations(0.5, 4, 0.2);
    invitations.announced({id, "Cam", key, "127.0.0.1", 9000});
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    invitations.announced({id, "Cam", key, "127.0.0.1", 9666});
    EXPECT_EQ(invitations.addressesOf(*invitations.find(id)), (std::vector<Address>{{"127.0.0.1", 9666}}));

    // Another key in the entry's place, then the first key again: nothing of the first is left.
    invitations.announced({id, "Cam", other, "127.0.0.1", 9100});
    invitations.announced({id, "Cam", key, "127.0.0.1", 9000});
    EXPECT_EQ(invitations.addressesOf(*invitations.find(id)), (std::vector<Address>{{"127.0.0.1", 9000}}));
}

// An address announced while an invitation is under way joins it; when the invitation tries as many as it may, the
// attempt that has waited longest makes way, once it has had time to answer. A socket that holds fewer attempts than
// another takes a place of that one's at once: a forger announcing many ports from a socket of its own, on its own
// host or on the camera's, never keeps the camera's socket out, nor pushes its attempt out. The host where the camera
// was last reached has a place whatever forgers announce from other sockets or hosts, however many and however fast.
TEST(NearbyInvitationsTest, AnAddressAnnouncedMeanwhileJoinsTheAttempts) {
    using Attempt = NearbyInvitations::Attempt;
    using Source = NearbyInvitations::Source;
    struct Case {
        const char* what;
        std::vector<std::pair<Source, double>> attempts;  // the announcing socket, seconds it has waited at its step
        Source from;                                      // the socket of the new announcement
        bool admit;
        std::optional<std::uint64_t> closes;
        std::optional<std::string> home = {};  // where the camera was last reached
    };
    const Source camera{"10.0.0.9", 40001}, forger{"10.0.0.66", 40001}, forgerOnCameraHost{"10.0.0.9", 40002};
    auto at = [](const Source& source, std::vector<double> waited) {
        std::vector<std::pair<Source, double>> out;
        for (auto w : waited) out.emplace_back(source, w);
        return out;
    };
    auto plus = [](std::vector<std::pair<Source, double>> a, const std::vector<std::pair<Source, double>>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    // One attempt from each of `waited.size()` sockets, on the forger's host or on hosts of their own.
    auto each = [](bool ownHosts, std::vector<double> waited) {
        std::vector<std::pair<Source, double>> out;
        for (std::size_t i = 0; i < waited.size(); ++i) {
            out.emplace_back(ownHosts ? Source{"10.0.1." + std::to_string(i + 1), 40001}
                                      : Source{"10.0.0.66", static_cast<std::uint16_t>(41000 + i)},
                             waited[i]);
        }
        return out;
    };
    const std::vector<double> young{0.2, 0.1, 0.3, 0.1, 0.1, 0.1, 0.1, 0.5};
    const Source forgerNewSocket{"10.0.0.66", 42000}, forgerNewHost{"10.0.2.1", 40001};
    const std::string home = "10.0.0.9";
    const Case cases[] = {
        {"none left", {}, camera, true, std::nullopt},
        {"room for more", at(camera, {5, 5, 5, 5, 5, 5, 5}), camera, true, std::nullopt},
        {"as many as it may: the one waiting longest goes", at(camera, {2, 3, 9, 1.5, 2, 2, 2, 2}), camera, true, 3},
        {"as many as it may, all just started: it waits for the next announcement",
         at(camera, {0.2, 0.1, 0.3, 0.1, 0.1, 0.1, 0.1, 0.5}), camera, false, std::nullopt},
        {"a forger's host holds all, just started: the camera's host takes the place of its oldest at once",
         at(forger, {0.2, 0.1, 0.3, 0.1, 0.1, 0.1, 0.1, 0.5}), camera, true, 8},
        {"the camera's host holds one, a forger's seven: the camera's newer address still comes in",
         plus(at(camera, {0.1}), at(forger, {0.2, 0.1, 0.3, 0.1, 0.1, 0.1, 0.4})), camera, true, 8},
        {"a forger's newer port: the forger's oldest makes way, not the camera's that waited longer",
         plus(at(camera, {9}), at(forger, {2, 3, 1.5, 2, 2, 2, 2})), forger, true, 3},
        {"a forger's newer port, its own just started: it waits",
         plus(at(camera, {9}), at(forger, {0.2, 0.1, 0.3, 0.1, 0.1, 0.1, 0.5})), forger, false, std::nullopt},
        {"a forger's socket on the camera's host holds all, just started: the camera's socket takes a place at once",
         at(forgerOnCameraHost, {0.2, 0.1, 0.3, 0.1, 0.1, 0.1, 0.1, 0.5}), camera, true, 8},
        {"that forger's newer port: its own oldest makes way, not the camera's just started",
         plus(at(camera, {0.1}), at(forgerOnCameraHost, {2, 3, 1.5, 2, 2, 2, 2})), forgerOnCameraHost, true, 3},
        {"a forger's sockets on its host hold all, one each, just started: the camera's host, where it was reached, "
         "takes the place of the oldest at once",
         each(false, young), camera, true, 8, home},
        {"forgers at as many hosts hold all, just started: the camera's host takes the place of the oldest at once",
         each(true, young), camera, true, 8, home},
        {"where the camera was not reached yet, one socket each: it waits for an attempt to have had its time",
         each(false, young), camera, false, std::nullopt},
        {"the camera's host holds one that waited long: a forger's new socket takes a forged place, not that one",
         plus(at(camera, {9}), each(false, {2, 3, 1.5, 2, 2, 2, 2})), forgerNewSocket, true, 3, home},
        {"the camera's host holds one that waited long: a forger's new host takes a forged place, not that one",
         plus(at(camera, {9}), each(true, {2, 3, 1.5, 2, 2, 2, 2})), forgerNewHost, true, 3, home},
        {"the camera's host holds one that waited long, the forged ones just started: a forger's new host waits",
         plus(at(camera, {9}), each(true, {0.2, 0.1, 0.3, 0.1, 0.1, 0.1, 0.4})), forgerNewHost, false, std::nullopt,
         home},
        {"all the camera's host's, waited long: a forger's new socket waits", at(camera, {9, 9, 9, 9, 9, 9, 9, 9}),
         forgerNewSocket, false, std::nullopt, home},
    };
    const auto now = NearbyInvitations::Clock::now();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<Attempt> attempts;
        for (std::size_t i = 0; i < c.attempts.size(); ++i) {
            const auto& [source, waited] = c.attempts[i];
            attempts.push_back({i + 1, now - std::chrono::milliseconds(static_cast<long>(waited * 1000)), source});
        }
        const auto room = NearbyInvitations::roomForAttempt(attempts, c.from, c.home, now);
        EXPECT_EQ(room.admit, c.admit);
        EXPECT_EQ(room.close, c.closes);
    }
}

// After a failed invitation the camera waits out a pause, unless it announces an address no invitation tried lately:
// a pause earned at forged addresses never keeps the camera's own from being tried.
TEST(NearbyInvitationsTest, APauseHoldsOnlyForAddressesTriedLately) {
    const Bytes key(32, 7);
    const PeerId id{Uuid()};
    struct Case {
        const char* what;
        std::vector<std::uint16_t> tried;
        bool failed;
        bool disconnected;
        std::uint16_t announced;
        bool invites;
    };
    const Case cases[] = {
        {"never failed", {9000}, false, false, 9000, true},
        {"failed, the address tried", {9666, 9000}, true, false, 9000, false},
        {"failed, an address not tried yet", {9666, 9667}, true, false, 9000, true},
        {"disconnected by the user, whatever it announces", {9666}, false, true, 9000, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        NearbyInvitations invitations(0.5, 4, 60);
        const NearbyInvitations::Camera camera{id, "Cam", key, "127.0.0.1", c.announced};
        invitations.announced(camera);
        for (auto port : c.tried) invitations.tried(key, {"127.0.0.1", port});
        if (c.failed) invitations.failed(key);
        if (c.disconnected) invitations.disconnectedByUser("Cam");
        EXPECT_EQ(invitations.mayInviteAutomatically(camera), c.invites);
    }
}

}  // namespace
}  // namespace morvane::test
