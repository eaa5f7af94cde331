#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace morvane {

/// What the remote's message band says. A passing notice (a capture saved, a marker set) shows for its time and
/// gives way at once to a newer one. A notice that matters (a camera lost, a pairing that failed) shows its full
/// time and is never replaced: whatever comes meanwhile waits its turn, and a newer passing notice takes the place
/// of an older one still waiting. A notice that stays (a take that lost something, a capture not where it belongs)
/// is shown from the moment it comes until it is dismissed, above the one notice that takes turns. A notice posted
/// again under its key changes in place; with a text for several, it counts them ("Saved 4 files …"). One of a key
/// posted by several cameras is one notice naming them ("Cam A, Cam B: …"), and a camera heard again is named once.
/// A camera is known by its name, so a camera that starts again is named once. Notices of a key that count by subject
/// (a camera's takes without sound) are one counting the subjects, however often each is told.
/// A notice whose cause has passed is withdrawn: for one camera, it names the others, and goes when none is left; of
/// several subjects, it counts one fewer. What the crew dismissed is known by the occurrences it told: a notice of
/// one of them is not shown again. It keeps no clock: it answers which notice starts showing and for how long, and
/// the owner tells it when that time is up.
class NoticeBoard {
public:
    /// A folder a notice names by its name; the whole path is a click away.
    struct Folder {
        std::string name;
        std::string path;
        friend bool operator==(const Folder&, const Folder&) = default;
    };

    struct Notice {
        std::string text;
        double seconds = 2.5;
        bool matters = false;
        std::string key;              ///< non-empty: replaces the waiting or shown notice of the same key
        bool stays = false;           ///< shown until dismissed, beside the others (it matters)
        std::string several;          ///< with a key: the text once it has been posted n times, "%n" standing for n
        std::vector<Folder> folders;  ///< named in the text
        std::string camera;           ///< the camera it comes from (its id), or none
        std::string cameraName;       ///< how that camera is named before the text, once `nameCameras` is called
        std::string subject;          ///< what it is about, for `withdraw`
        std::string occurrence;       ///< which occurrence of its cause it tells, for `dismiss`
        std::size_t counts = 1;       ///< with a text for several: how many it stands for
        bool bySubject = false;       ///< with a text for several: counts the subjects it is about, each once
    };

    /// What the band shows, top to bottom.
    struct Shown {
        std::uint64_t id = 0;
        std::string text;
        std::vector<Folder> folders;
        bool stays = false;
        friend bool operator==(const Shown&, const Shown&) = default;
    };

    /// A notice that has just started showing (or started again): call `expire` with `id` after `seconds`.
    struct Showing {
        std::uint64_t id = 0;
        double seconds = 0;
        friend bool operator==(const Showing&, const Showing&) = default;
    };

    /// Most notices waiting, and most staying, at once; past that the oldest one is dropped.
    static constexpr std::size_t capacity = 32;
    /// Most dismissed occurrences remembered; past that the oldest is forgotten.
    static constexpr std::size_t dismissedCapacity = 512;

    std::optional<Showing> post(Notice notice);
    /// The time of the showing `id` is up; a later showing of the same notice keeps it.
    std::optional<Showing> expire(std::uint64_t id);
    /// The staying notice `id` has been read: the occurrences it told are not shown again. False when there is none.
    bool dismiss(std::uint64_t id);
    /// The occurrences dismissed, oldest first.
    const std::deque<std::string>& dismissed() const { return dismissed_; }
    /// What was dismissed before (as `dismissed` gave it), kept from an earlier run.
    void rememberDismissed(const std::vector<std::string>& occurrences);
    /// The cause of `occurrence` has passed: a notice of it is shown again. True when it was dismissed.
    bool forget(const std::string& occurrence);
    /// The staying notices, oldest first, then the one whose turn it is.
    std::vector<Shown> shown() const;
    /// The text the band said last, of those it shows.
    std::optional<std::string> text() const;
    /// True while a notice of that key is shown or waiting.
    bool holds(const std::string& key) const;
    /// The cause of the notices about `subject` has passed for `camera`, or for all when none is named: they no
    /// longer name that camera, and go when they name none. True when one changed.
    bool withdraw(const std::string& subject, const std::string& camera = {});
    /// From now on notices name the cameras they come from: more than one camera is, or was, there.
    void nameCameras();

private:
    struct Camera {
        std::string id;
        std::string name;
    };
    struct Entry {
        Notice notice;
        std::uint64_t id = 0;  // of its showing; 0 while waiting
        std::size_t count = 1;
        std::uint64_t said = 0;                // when the band last said it; 0 while waiting
        std::vector<Camera> cameras;           // that posted it, by name
        std::vector<std::string> subjects;     // it is about, in the order told
        std::vector<std::string> occurrences;  // it told
    };
    std::optional<Showing> start();
    Shown shownOf(const Entry& entry) const;
    static void heardFrom(Entry& entry, const Notice& notice);
    static bool countsSubjects(const Notice& notice);
    void noteDismissed(const std::string& occurrence);

    std::deque<Entry> entries_;  // the first is shown
    std::deque<Entry> staying_;  // oldest first, all shown
    std::deque<std::string> dismissed_;
    std::uint64_t nextID_ = 1;
    std::uint64_t nextSaid_ = 1;
    bool namesCameras_ = false;
};

}  // namespace morvane
