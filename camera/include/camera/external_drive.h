#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "protocol/capture_settings.h"

namespace morvane {

/// A removable drive (USB or card reader) mounted on the machine, to record takes onto. Found in the mount table
/// and the kernel's block-device folders; `root` stands for "/" so that tests can lay out a machine of their own.
class ExternalDrive {
public:
    struct Mount {
        std::string device;  ///< "/dev/sdb1"
        std::filesystem::path mountPoint;
        std::string fileSystem;
        bool readOnly = false;
    };

    explicit ExternalDrive(std::filesystem::path root = "/");

    /// Told the drive's status whenever it changes (none when no drive is connected); `refresh` calls it.
    std::function<void(const std::optional<DriveStatus>&)> onChange;

    /// A new movie file on the first connected drive: "Brindlecroft/Take 0001.mov" and up, the first name not yet
    /// taken (nothing is ever replaced), its folder made. None when no drive can take it.
    std::optional<std::filesystem::path> nextRecordingURL() const;

    /// The drive to record onto: the first mounted removable drive in mount-table order.
    std::optional<Mount> currentDevice() const;

    /// The folders of the writable drives now mounted that takes were recorded in: where a take cut short by a
    /// crash or a power cut waits to be finished.
    std::vector<std::filesystem::path> recordingFolders() const;

    /// The status the camera reports for its drive, or none.
    std::optional<DriveStatus> status() const;

    /// Looks again and calls `onChange` when a drive came, went or was mounted differently since the last report.
    void refresh();

    /// The entries of a mount table (the format of /proc/self/mounts), octal escapes decoded.
    static std::vector<Mount> parseMountTable(const std::string& text);

private:
    bool isRemovable(const std::string& device) const;
    /// Every mounted removable drive that can take a recording, in mount-table order.
    std::vector<Mount> drives() const;
    std::filesystem::path recordingFolder(const Mount& mount) const;

    std::filesystem::path root_;
    std::optional<std::optional<std::string>> reported_;  // the drive last reported, or none
};

}  // namespace morvane
