#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "camera/take_log.h"
#include "platform/date.h"
#include "protocol/transfer_info.h"

namespace morvane {

/// What a start does with every file an earlier run of the camera can leave on the way of a capture (a crash, a kill,
/// a power cut): in the recording folder, in each mounted drive's take folder, in the vault, in the outbox and among
/// the deck copies. One rule for every capture kind and folder: what holds footage is finished, stored and sent once;
/// what holds none goes; what belongs to a take being recorded, or to another camera, is left alone.
struct LeftoverPlan {
    /// A file as the start finds it.
    struct File {
        std::string name;
        std::uintmax_t size = 0;
        Date written{};      ///< when it was last written
        bool plays = false;  ///< a movie that opens whole, with a length (its index written)
        /// For a journal: the camera that recorded its take, as its journal says (empty: a journal of the first
        /// layout, which does not say), and whether a program alive holds the take (recording or storing it).
        std::string owner;
        bool held = false;

        friend bool operator==(const File&, const File&) = default;
    };
    struct Folder {
        std::filesystem::path path;
        std::vector<File> files;
        /// For an outbox: the file names its entries name. For the vault: the names the outbox's entries and the
        /// gallery name there.
        std::set<std::string> listed;

        friend bool operator==(const Folder&, const Folder&) = default;
    };
    struct Listing {
        Folder recording;            ///< the camera's own recording folder
        std::vector<Folder> drives;  ///< each mounted drive's take folder, where its takes stay
        Folder vault;                ///< the library's folder when captures are kept in the vault
        Folder outbox;
        Folder deckCopies;
        std::vector<TakeLog::Entry> takeLog;
        /// The movie being recorded now, if any: its files are the recorder's.
        std::optional<std::filesystem::path> recordingNow;
        std::string camera;      ///< this camera's identity, as its journals name it
        std::string deviceName;  ///< for the name of a photo that lost its own
    };

    struct Step {
        enum class Kind {
            finish,        ///< a movie cut off: finished from its journal, then stored as a take (or set aside)
            store,         ///< a whole capture never stored, or stored but not queued: stored and queued as any
                           ///< (one in the vault stays there under its name)
            queue,         ///< a capture already kept (`info` says what it is): only listed for the remote
            makeDeckCopy,  ///< a deck copy cut off: made again for the take `info` names
            setAside,      ///< a movie that neither plays nor has a journal: finished as far as it plays, or set aside
            leave,         ///< left as it is; `told` when the crew is to know
            remove,        ///< holds no footage, or is already where it goes
        };
        Kind kind = Kind::leave;
        std::filesystem::path file;
        bool onDrive = false;
        bool photo = false;
        std::optional<TransferInfo> info;
        std::optional<std::string> told;

        friend bool operator==(const Step&, const Step&) = default;
    };

    static std::vector<Step> plan(const Listing& listing);

    /// What the crew is told of a take of another camera cut off on the drive.
    static std::string anotherCamerasTake(const std::filesystem::path& movie);
    /// A set-aside movie no larger than this is a header without a sample.
    static constexpr std::uintmax_t emptyMovieBytes = 64;
};

}  // namespace morvane
