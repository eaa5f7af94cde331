#pragma once

#include <optional>
#include <string>
#include <vector>

namespace morvane {

/// The settings on their way to a capture source (mode changes, picture settings, reading its description), in the
/// session queue's turn. One is under way at a time: a device's control requests wait for each other in its driver,
/// so a second one sent past a stuck one would only get stuck too. The others wait, a newer setting of a kind
/// taking the place of the one of that kind still waiting, so that nothing piles up behind a stuck one. One that
/// has not answered `answerSeconds` after it started is left behind, to finish when the device lets it; that the
/// camera does not take its settings is told once, until a setting answers in time again.
class SettingQueue {
public:
    explicit SettingQueue(double answerSeconds = 5.0) : answerSeconds_(answerSeconds) {}

    struct Offer {
        bool runNow = false;          ///< it is under way from now on
        std::optional<int> replaced;  ///< the waiting setting of its kind it took the place of: never to run
    };
    /// Setting `id` of `kind` is asked for at `now`.
    Offer offer(int id, const std::string& kind, double now);

    /// Whether the setting under way was left behind: the source may be stuck for anything else as well.
    bool stuck() const { return underWay_ && behind_; }
    /// When the setting under way is left behind; none when none is under way or it was left behind already.
    std::optional<double> deadline() const;
    struct Overdue {
        bool leftBehind = false;  ///< the setting under way did not answer in time: left behind from now on
        bool tell = false;        ///< the first one since a setting answered in time
    };
    Overdue overdue(double now);
    /// Setting `id` answered at `now`, in time or late; the next one, now under way, if it was the one under way.
    std::optional<int> answered(int id, double now);
    /// Another source takes over: what was under way belongs to the old one, and the waiting ones are given up
    /// (the owner applies its settings anew). The ids given up.
    std::vector<int> clear();

private:
    struct Waiting {
        int id;
        std::string kind;
    };
    std::optional<int> start(double now);

    double answerSeconds_;
    std::optional<int> underWay_;
    double startedAt_ = 0;
    bool behind_ = false;  ///< the one under way was left behind
    bool told_ = false;
    std::vector<Waiting> waiting_;  ///< in the order asked, one of each kind
};

}  // namespace morvane
