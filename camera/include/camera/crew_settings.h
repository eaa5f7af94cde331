#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "protocol/camera_command.h"
#include "protocol/camera_status.h"
#include "protocol/json_coding.h"

namespace morvane {

/// What the crew set on a camera from the remote (mode, format, codec, drive, picture, aids…), kept in the camera's
/// folder so that a camera that starts again, after a crash as after a quit, is the camera the crew set up. The
/// file is written whole in one step and read back whole or not at all.
struct CrewSettings {
    static constexpr const char* fileName = "settings.json";
    /// The custom LUT the remote loaded last, beside it: its table is far larger than the settings.
    static constexpr const char* lutFileName = "custom-lut.json";

    /// What a read found: the kept settings laid over the status defaults, or none (no file yet, or a file that
    /// cannot be used, then `problem` says why).
    struct Read {
        std::optional<CameraStatus> kept;
        std::string problem;
    };
    /// Never throws: a damaged, partial or foreign file, or one that cannot be read, is a problem.
    static Read read(const std::filesystem::path& file);
    /// The settings fields of `status` as the file holds them (written with `writeFileAtomically`, so a crash
    /// leaves the old file or the new one).
    static Json encode(const CameraStatus& status);

    /// The custom LUT as its file holds it, and back; none for a file that is missing or cannot be used (the table
    /// itself is checked where it is loaded, as one from a remote is).
    static Json encodeLUT(const CameraCommand::LoadCustomLUT& lut);
    static std::optional<CameraCommand::LoadCustomLUT> readLUT(const std::filesystem::path& file);

    /// The commands that set a camera as `kept` says, the custom LUT `lut` loaded first, in the order a crew would
    /// give them; the format is left out (it waits for the device's own modes, see `CameraController`).
    static std::vector<CameraCommand> commands(const CameraStatus& kept,
                                               const std::optional<CameraCommand::LoadCustomLUT>& lut = std::nullopt);
};

}  // namespace morvane
