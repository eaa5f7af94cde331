#pragma once

#include <filesystem>
#include <memory>
#include <optional>

class QWidget;

namespace morvane {

/// Asks the person for one .cube file. The sheet uses the platform's file dialog; tests hand it a path.
class LUTFilePicker {
public:
    virtual ~LUTFilePicker() = default;
    /// The chosen file, or none when the person cancelled.
    virtual std::optional<std::filesystem::path> pickCubeFile(QWidget* parent) = 0;
};

/// The file dialog, offering .cube files first and any file after them.
std::unique_ptr<LUTFilePicker> makeFileDialogLUTPicker();

}  // namespace morvane
