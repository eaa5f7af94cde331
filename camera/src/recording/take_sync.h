#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace morvane {

/// Brings a take being written onto the disk on a thread of its own, so that the thread that compresses never waits
/// for the disk: first the movie's bytes handed to the system so far, then the journal's records of their samples.
/// The journal thus never lists a sample whose bytes may not be on the disk. After a sync that failed it takes
/// nothing more: what it listed stays true, while the system may have dropped what that sync was to bring.
class TakeSync {
public:
    /// Brings a file's written bytes to the disk (fdatasync); nonzero when they may not be there.
    using Sync = std::function<int(int descriptor)>;

    /// Neither descriptor is taken over: both stay open while this lives.
    TakeSync(int movie, int journal, Sync sync);
    /// What was handed over is brought to the disk first.
    ~TakeSync();
    TakeSync(const TakeSync&) = delete;
    TakeSync& operator=(const TakeSync&) = delete;

    /// Journal bytes whose samples' bytes the movie's descriptor has been given. Handed over faster than the disk
    /// takes them, they are brought together.
    void keep(std::string journalBytes);

private:
    void run();
    bool bring(const std::string& journalBytes);

    const int movie_;
    const int journal_;
    const Sync sync_;
    bool failed_ = false;  ///< on the thread only

    std::mutex lock_;
    std::condition_variable wake_;
    std::string pending_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace morvane
