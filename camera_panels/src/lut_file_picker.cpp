#include "camera_panels/lut_file_picker.h"

#include <QFileDialog>

namespace morvane {
namespace {

class FileDialogLUTPicker : public LUTFilePicker {
public:
    std::optional<std::filesystem::path> pickCubeFile(QWidget* parent) override {
        const QString file = QFileDialog::getOpenFileName(parent, QStringLiteral("Import .cube LUT…"), QString(),
                                                          QStringLiteral("Cube LUT (*.cube);;All files (*)"));
        if (file.isEmpty()) return std::nullopt;
        return std::filesystem::path(file.toStdString());
    }
};

}  // namespace

std::unique_ptr<LUTFilePicker> makeFileDialogLUTPicker() { return std::make_unique<FileDialogLUTPicker>(); }

}  // namespace morvane
