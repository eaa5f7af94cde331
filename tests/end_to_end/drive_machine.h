#pragma once

#include <filesystem>
#include <fstream>

namespace morvane::test {

/// A machine of the test's own (the camera's drive root) with a removable drive mounted: the drive's folder.
inline std::filesystem::path machineWithStick(const std::filesystem::path& machine) {
    const std::filesystem::path stick = machine / "media/user/STICK";
    std::filesystem::create_directories(machine / "sys/block/sdb");
    std::filesystem::create_directories(machine / "proc/self");
    std::filesystem::create_directories(stick);
    std::ofstream(machine / "sys/block/sdb/removable") << "1\n";
    std::ofstream(machine / "proc/self/mounts")
        << "/dev/sda1 / ext4 rw 0 0\n/dev/sdb1 /media/user/STICK exfat rw 0 0\n";
    return stick;
}

}  // namespace morvane::test
