#pragma once

#include <map>
#include <string>
#include <vector>

namespace morvane {

/// The number each connected camera answers to: its deck button and the key that puts it on air. A camera keeps its
/// number while the remote runs, also when it drops and comes back, and a paired camera keeps it across runs. Yet a
/// connected camera always has a number a key reaches while no more cameras are connected than there are keys: one
/// only remembered gives its number up first, then one met in this run that has left. It knows no link: the
/// controller tells it who is connected and carries its answer out.
class CameraNumbering {
public:
    struct Camera {
        std::string identity;  ///< lasting for a paired camera (its key); one connection's for any other
        bool paired = false;   ///< its number is kept across runs
    };

    /// Numbers 1 to `keys` are reached by a key; `stored` holds the paired cameras' numbers of earlier runs.
    CameraNumbering(int keys, std::map<std::string, int> stored);

    /// The numbers of the connected cameras, given in the user's order, remembered from now on.
    std::vector<int> numbersFor(const std::vector<Camera>& connected);
    /// The camera answers to `number` from now on; whoever held it forgets it.
    void give(const Camera& camera, int number);
    /// The paired cameras' numbers, to be stored.
    const std::map<std::string, int>& stored() const { return stored_; }

private:
    int keys_;
    std::map<std::string, int> met_;     // every camera met in this run
    std::map<std::string, int> stored_;  // paired cameras, of this run and earlier ones
};

}  // namespace morvane
