#include "camera/external_drive.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <sstream>

#include <sys/statvfs.h>

#include "platform/file_contents.h"

namespace morvane {

namespace fs = std::filesystem;

namespace {

// The mount table writes space, tab, newline and backslash as octal escapes ("\040").
std::string unescapeMountField(const std::string& field) {
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const std::string digits = field.substr(i + 1, 3);
            if (digits.size() == 3 && digits.find_first_not_of("01234567") == std::string::npos) {
                out.push_back(static_cast<char>(std::stoi(digits, nullptr, 8)));
                i += 3;
                continue;
            }
        }
        out.push_back(field[i]);
    }
    return out;
}

// The disk a partition belongs to: sdb1 → sdb, mmcblk0p1 → mmcblk0, nvme0n1p2 → nvme0n1.
std::string diskOf(std::string name) {
    if (name.rfind("mmcblk", 0) == 0 || name.rfind("nvme", 0) == 0) {
        const auto p = name.rfind('p');
        if (p != std::string::npos && p + 1 < name.size() &&
            name.find_first_not_of("0123456789", p + 1) == std::string::npos && p > 4) {
            return name.substr(0, p);
        }
        return name;
    }
    while (!name.empty() && std::isdigit(static_cast<unsigned char>(name.back()))) name.pop_back();
    return name;
}

bool recordableFileSystem(const std::string& type) {
    static const char* const kinds[] = {"vfat", "exfat", "ntfs",  "ntfs3", "fuseblk", "ext2",
                                        "ext3", "ext4",  "btrfs", "xfs",   "hfsplus", "f2fs"};
    for (const char* kind : kinds) {
        if (type == kind) return true;
    }
    return false;
}

std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

}  // namespace

ExternalDrive::ExternalDrive(fs::path root) : root_(std::move(root)) {}

std::vector<ExternalDrive::Mount> ExternalDrive::parseMountTable(const std::string& text) {
    std::vector<Mount> mounts;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string device, point, type, options;
        if (!(fields >> device >> point >> type >> options)) continue;
        Mount mount{unescapeMountField(device), unescapeMountField(point), type, false};
        std::istringstream opts(options);
        for (std::string opt; std::getline(opts, opt, ',');) {
            if (opt == "ro") mount.readOnly = true;
        }
        mounts.push_back(std::move(mount));
    }
    return mounts;
}

bool ExternalDrive::isRemovable(const std::string& device) const {
    if (device.rfind("/dev/", 0) != 0) return false;
    const std::string disk = diskOf(fs::path(device).filename().string());
    if (disk.empty() || disk.find('/') != std::string::npos) return false;
    const fs::path block = root_ / "sys/block" / disk;
    if (auto removable = readFileContents(block / "removable", 64); removable && trimmed(*removable) == "1")
        return true;
    // USB disks often call themselves fixed; the bus they hang on tells.
    std::error_code ec;
    const fs::path resolved = fs::canonical(block, ec);
    return !ec && resolved.string().find("/usb") != std::string::npos;
}

std::vector<ExternalDrive::Mount> ExternalDrive::drives() const {
    std::vector<Mount> drives;
    auto table = readFileContents(root_ / "proc/self/mounts", 4u << 20);
    if (!table) return drives;
    for (auto& mount : parseMountTable(*table)) {
        if (recordableFileSystem(mount.fileSystem) && isRemovable(mount.device)) drives.push_back(std::move(mount));
    }
    return drives;
}

std::optional<ExternalDrive::Mount> ExternalDrive::currentDevice() const {
    auto all = drives();
    if (all.empty()) return std::nullopt;
    return all.front();
}

fs::path ExternalDrive::recordingFolder(const Mount& mount) const {
    return root_ / mount.mountPoint.relative_path() / "Brindlecroft";
}

std::vector<fs::path> ExternalDrive::recordingFolders() const {
    std::vector<fs::path> folders;
    for (const auto& mount : drives()) {
        std::error_code ec;
        // A read-only drive holds takes that cannot be finished in place; it is looked at once it is writable.
        if (!mount.readOnly && fs::is_directory(recordingFolder(mount), ec)) folders.push_back(recordingFolder(mount));
    }
    return folders;
}

std::optional<fs::path> ExternalDrive::nextRecordingURL() const {
    auto mount = currentDevice();
    if (!mount || mount->readOnly) return std::nullopt;
    const fs::path folder = recordingFolder(*mount);
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) return std::nullopt;
    for (int n = 1; n <= 9999; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "Take %04d.mov", n);
        const fs::path candidate = folder / name;
        // Claim the name at once, so that two recordings never get the same file.
        FILE* f = std::fopen(candidate.c_str(), "wx");
        if (f) {
            std::fclose(f);
            return candidate;
        }
        if (errno != EEXIST) return std::nullopt;
    }
    return std::nullopt;
}

std::optional<DriveStatus> ExternalDrive::status() const {
    auto mount = currentDevice();
    if (!mount) return std::nullopt;
    DriveStatus status;
    const fs::path point = root_ / mount->mountPoint.relative_path();
    status.name = mount->mountPoint.filename().string();
    if (status.name.empty()) status.name = fs::path(mount->device).filename().string();
    struct statvfs info {};
    if (::statvfs(point.c_str(), &info) == 0) {
        status.freeBytes = static_cast<std::int64_t>(info.f_bavail) * static_cast<std::int64_t>(info.f_frsize);
    }
    if (mount->readOnly) status.warning = "This drive is read-only";
    return status;
}

void ExternalDrive::refresh() {
    // Reported when the drive comes, goes or changes, not on every change of its free space.
    const auto mount = currentDevice();
    std::optional<std::string> key;
    if (mount) key = mount->device + "\n" + mount->mountPoint.string() + (mount->readOnly ? "\nro" : "\nrw");
    if (reported_ && *reported_ == key) return;
    reported_ = key;
    if (onChange) onChange(status());
}

}  // namespace morvane
