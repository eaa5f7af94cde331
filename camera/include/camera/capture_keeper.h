#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "camera/capture_store.h"
#include "camera/cut_log.h"
#include "camera/external_drive.h"
#include "camera/leftover_plan.h"
#include "camera/movie_recorder.h"
#include "camera/outbox.h"
#include "camera/take_log.h"
#include "platform/defaults.h"
#include "platform/dispatch_queue.h"
#include "platform/photo_library.h"
#include "protocol/camera_event.h"

namespace morvane {

struct RecoveredTake;

/// Where the camera's captures are kept: it owns the queue that stores takes and the stores they go into (the vault
/// or the photo library, the drive, the gallery, the outbox, the take log). Through one door it keeps a capture just
/// recorded and settles what an earlier run left on the way of its captures (a crash, a kill, a power cut), as
/// `LeftoverPlan` says.
class CaptureKeeper : public std::enable_shared_from_this<CaptureKeeper> {
public:
    struct Collaborators {
        std::shared_ptr<CaptureStore> store;
        std::shared_ptr<Outbox> outbox;
        std::shared_ptr<Outbox> deckOutbox;  ///< optional
        std::shared_ptr<TakeLog> takeLog;    ///< optional: each take is written in it before it is queued
        std::shared_ptr<CutLog> cutLog;      ///< optional
        std::shared_ptr<Executor> main;
        std::shared_ptr<Defaults> defaults;  ///< "useVault", "sendToMac"
        std::filesystem::path vaultFolder;
        std::filesystem::path recordingFolder;
        std::shared_ptr<PhotoLibrary> photoLibrary;
        std::shared_ptr<ExternalDrive> drive;     ///< optional
        std::function<std::string()> deviceName;  ///< for capture file names
        std::function<std::string()> cameraIdentity;
        // From the camera that records.
        std::function<bool()> hasMicrophone;
        std::function<double()> clockOffset;
        /// Hands `answer` the movie being recorded now, if any, in the turn of the queue that starts and stops takes.
        std::function<void(std::function<void(std::optional<std::filesystem::path>)>)> recordingNow;
        /// What the crew is told (any thread).
        std::function<void(const CameraEvent&)> tell;
        /// How often a take waiting for its holder or for room, and a notice of another camera's take, are looked at.
        double watchInterval = 1.0;
    };

    /// A finished take, after it was stored.
    struct Take {
        TakeLog::Entry entry;
        std::optional<GalleryItem> item;
    };

    /// A movie that plays, on its way into the library and the outbox.
    struct Recorded {
        std::filesystem::path movie;
        double duration = 0;
        Date startDate;  ///< on the shared clock
        bool onDrive = false;
        /// What the crew is told of a take whose sound is missing, in part or whole; none when it is whole. A take
        /// an earlier run left is judged from its file (`judged` false).
        std::optional<std::string> soundMissing;
        bool judged = false;
        /// The capture name it already has (stored before, then the camera ended): the library knows it by it.
        std::optional<std::string> fileName;
    };

    static std::shared_ptr<CaptureKeeper> make(Collaborators collaborators);

    /// Where takes are stored, one at a time.
    DispatchQueue& queue() { return queue_; }

    /// A take just recorded, its recorder stopped: finished and kept (on `queue()`).
    void storeTake(const std::shared_ptr<MovieRecorder>& recorder, const SharedFrame& firstPicture, double offset,
                   bool onDrive);
    /// Saves a photo's encoded data: vault or photo library, gallery entry, `photoSaved`, outbox. Any thread.
    void savePhoto(const Bytes& data, const std::string& extension);
    /// Settles what an earlier run left, as the occasion asks (any thread; done on `queue()`).
    void settle(LeftoverPlan::Occasion occasion);
    /// Room was made on the disk (a capture left the outbox): a take that waits for it is tried again.
    void roomMade();

    // Main queue.
    std::function<void(const TakeLog::Entry&)> onTakeSaved;
    std::function<void(const Take&)> onTakeFinished;
    /// Deck copies an earlier run was making when it ended, to be made again.
    std::function<void(const std::vector<TakeLog::Entry>&)> onDeckCopiesCut;

    /// What a take with no sound at all says, from a camera with a microphone.
    static constexpr const char* noSoundMessage =
        "The take has no sound: the microphone gave nothing. Its pictures are kept";
    /// What a take cut short says when its sound was damaged on the disk and left out.
    static constexpr const char* soundDamagedMessage =
        "The take has no sound: its sound was damaged on the disk and is left out. Its pictures are kept";
    /// The subject of the notice that the photo library (or the vault) could not keep a capture: it stands until a
    /// capture is kept there again.
    static constexpr const char* librarySubject = "library";

private:
    explicit CaptureKeeper(Collaborators collaborators);

    std::string keepTake(const Recorded& take, const SharedFrame& firstPicture);
    std::string deviceName() const;
    /// A take cut short as the crew knows it: the name it has (or would have had) when stored, else its file's.
    std::string takeName(const RecoveredTake& recovered, const std::filesystem::path& movie) const;
    void keepPhoto(const std::filesystem::path& file, const TransferInfo& info,
                   std::optional<CaptureStore::Pending> pending);
    std::optional<GalleryItem> addToGallery(const TransferInfo& info, const SharedFrame& firstPicture,
                                            const TakeLog::Entry& entry);
    /// Tells what the library could not keep, or, once it keeps a capture again, takes that notice back.
    void tellLibrary(const std::optional<std::string>& failure);
    void begin(LeftoverPlan::Occasion occasion);
    LeftoverPlan::Listing list(LeftoverPlan::Occasion occasion) const;
    void carryOut(const LeftoverPlan::Listing& listing);
    void recoverLeft(const std::filesystem::path& movie, bool onDrive);
    void storeLeftTake(const std::filesystem::path& movie, bool onDrive);
    void storeLeftPhoto(const std::filesystem::path& photo);
    void queueLeft(const LeftoverPlan::Step& step, std::map<std::string, Outbox::Unlisted>& waiting);
    void watch();
    bool changed() const;

    Collaborators c_;
    DispatchQueue queue_{"morvane.take-saving"};
    const Date runStarted_ = Date::now();
    // On the queue only.
    std::set<std::filesystem::path> waited_;                      ///< journals of own takes another one holds
    std::map<std::filesystem::path, std::uintmax_t> roomWanted_;  ///< folder: room it had when a take wanted more
    std::set<std::filesystem::path> toldOthers_;                  ///< other cameras' takes the crew was told of
    std::atomic<bool> libraryFailed_{false};                      ///< a library notice stands
    bool watching_ = false;
    bool settling_ = false;                       ///< listed, not yet carried out
    std::optional<LeftoverPlan::Occasion> next_;  ///< asked for meanwhile
};

/// A picture as a JPEG (for photos and take thumbnails); none when it cannot be encoded.
std::optional<Bytes> jpegOfPicture(const AVFrame& picture, int maxSide, double quality);

/// A name for a new file in `folder` that nobody else can take: `name`, else "<base> 2.<ext>", … ; the name is
/// claimed by making an empty file. None when the folder cannot hold it.
std::optional<std::string> reserveFileName(const std::filesystem::path& folder, const std::string& name);

/// Every file in a folder, none when it cannot be read.
std::vector<std::filesystem::path> filesOf(const std::filesystem::path& folder);

}  // namespace morvane
