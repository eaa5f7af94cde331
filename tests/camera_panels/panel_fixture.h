#pragma once

#include <QApplication>
#include <QImage>
#include <QWidget>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "camera_panels/stored_settings.h"
#include "platform/defaults.h"
#include "platform/theme.h"
#include "protocol/camera_command.h"
#include "temp_dir.h"

namespace morvane::test {

/// Stored settings in a temporary folder, a recorder of sent commands, and the application's look.
class PanelFixture {
public:
    PanelFixture() : defaults_(dir_ / "defaults.json"), settings_(defaults_) {
        theme::apply(*qApp);
    }

    StoredSettings& settings() { return settings_; }
    Defaults& defaults() { return defaults_; }

    std::function<void(const CameraCommand&)> recorder() {
        return [this](const CameraCommand& command) { sent.push_back(command); };
    }

    /// Writes the widget's picture when MORVANE_PANEL_SHOTS names a folder, for a person to look at.
    static void saveShot(QWidget& widget, const std::string& name) {
        const char* folder = std::getenv("MORVANE_PANEL_SHOTS");
        if (!folder) return;
        widget.grab().save(QString::fromStdString(std::string(folder) + "/" + name + ".png"));
    }

    std::vector<CameraCommand> sent;

private:
    TempDir dir_;
    Defaults defaults_;
    StoredSettings settings_;
};

}  // namespace morvane::test
