#pragma once

#include <functional>

namespace morvane {

/// The process-wide concurrent executor on which movie probes run, off the library's queue. A few worker threads,
/// so that loading a day with many unprobed movies does not start a thread per movie.
class ProbePool {
public:
    static ProbePool& shared();
    void run(std::function<void()> work);

private:
    ProbePool();
    struct State;
    State* state_;
};

}  // namespace morvane
