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
/// a power cut): in the recording folder, in each mounted drive's take folder, in the vault, in the outbox, among
/// the deck copies and beside the camera's records. One rule for every capture kind and folder: what holds footage
/// is finished, stored and sent once; what holds none goes; what belongs to a take being recorded, or to another
/// camera, is left alone.
struct LeftoverPlan {
    /// Why the camera looks.
    enum class Occasion {
        start,   ///< everything: nothing of this run is on its way yet
        drives,  ///< a drive appeared: its takes
        takes,   ///< the takes in the recording folder and on the drives (room was made, a held take let go)
    };

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
        double duration = 0;    ///< of a movie that plays
        std::string ownerName;  ///< for a journal: the recording camera's name, when it says

        friend bool operator==(const File&, const File&) = default;
    };
    struct Folder {
        std::filesystem::path path;
        std::vector<File> files;
        /// For an outbox: the file names its entries name. For the vault: the names the outbox's entries name there.
        std::set<std::string> listed;

        friend bool operator==(const Folder&, const Folder&) = default;
    };
    struct Listing {
        Occasion occasion = Occasion::start;
        Folder recording;            ///< the camera's own recording folder
        std::vector<Folder> drives;  ///< each mounted drive's take folder, where its takes stay
        Folder vault;                ///< the library's folder when captures are kept in the vault
        Folder outbox;
        Folder deckCopies;
        /// The folders of the camera's own records (the take log's, the gallery's): only writes an earlier run cut off
        /// matter there.
        std::vector<Folder> records;
        std::set<std::string> inGallery;  ///< the vault files the gallery names
        std::vector<TakeLog::Entry> takeLog;
        /// The movie being recorded now, if any: its files are the recorder's.
        std::optional<std::filesystem::path> recordingNow;
        std::string camera;      ///< this camera's identity, as its journals name it
        std::string deviceName;  ///< for the name of a photo that lost its own
        Date runStarted{};       ///< what was written before is an earlier run's
        /// Takes of other cameras the crew was told of (their movies): told no more once their journals are gone.
        std::set<std::filesystem::path> toldOthers;
    };

    struct Step {
        enum class Kind {
            recover,       ///< a movie cut off, or one that does not play: finished from its journal as far as it
                           ///< plays and stored as a take, or set aside
            store,         ///< a whole capture never stored: stored and queued as any (one in the vault stays there
                           ///< under its name)
            queue,         ///< a capture already kept (`info` says what it is): queued as `to` says
            sent,          ///< in an outbox, named by no entry, its bytes at the receiver already: it goes
            makeDeckCopy,  ///< a deck copy cut off: made again for the take `info` names
            waitFor,       ///< this camera's take, held by another program: tried again once it lets go
            leave,         ///< left as it is; `told` when the crew is to know
            remove,        ///< holds no footage, or is already where it goes
            untell,        ///< what the crew was told of another camera's take holds no more: `file` is the movie
            noteQueued,    ///< the take log is told the capture is queued (the camera ended before it said so)
        };
        /// Where a queued capture goes.
        enum class To {
            listing,     ///< placed in its outbox already: only listed
            vaultEntry,  ///< an entry naming it where it lies in the vault
            copy,        ///< a copy in the outbox: the file stays (a drive keeps its takes)
            move,        ///< the file itself into the outbox
        };
        Kind kind = Kind::leave;
        std::filesystem::path file;
        bool onDrive = false;
        bool photo = false;
        std::optional<TransferInfo> info;
        std::optional<std::string> told;
        To to = To::listing;
        bool toGallery = false;  ///< queue: the gallery has no entry for it yet: made too

        friend bool operator==(const Step&, const Step&) = default;
    };

    static std::vector<Step> plan(const Listing& listing);

    /// What the crew is told of a take of another camera cut off on the drive (`camera`: its name, when known).
    static std::string anotherCamerasTake(const std::filesystem::path& movie, const std::string& camera = {});
    /// What the crew is told of a take cut off on the drive whose journal names no camera.
    static std::string nobodysTake(const std::filesystem::path& movie);
    /// Whether a set-aside movie of this size is a header without a sample: no footage to keep.
    static constexpr bool headerAlone(std::uintmax_t size) { return size <= 64; }
    /// Two lengths of one take, as its recorder and a reader tell them, lie within this (seconds).
    static constexpr double sameLength = 1.0;
};

}  // namespace morvane
