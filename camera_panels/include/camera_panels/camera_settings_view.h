#pragma once

#include <QWidget>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "camera_panels/camera_settings_rules.h"
#include "camera_panels/capture_controls.h"
#include "camera_panels/lut_file_picker.h"
#include "protocol/camera_command.h"
#include "protocol/camera_status.h"

class QComboBox;
class QLabel;
class QMessageBox;
class QPushButton;
class QScrollArea;
class QSlider;
class QVBoxLayout;

namespace morvane {

class SegmentedPicker;
class StoredSettings;
class ToggleSwitch;

/// The per-camera settings sheet: exposure, white balance, focus, video or photo, sound, exposure aids and the
/// monitoring LUT of one camera as it last reported them. Every control shows the status and sends a command
/// on a person's change; only the manual exposure, white-balance and focus values are the sheet's own, copied
/// from the camera each time the sheet is shown (a copy that sends nothing).
class CameraSettingsView : public QWidget {
    Q_OBJECT
public:
    using Send = std::function<void(const CameraCommand&)>;

    /// `settings` defaults to the application's stored settings, `picker` to the file dialog.
    CameraSettingsView(const CameraStatus& status, Send send, std::optional<BoolBinding> showHistogram,
                       StoredSettings* settings = nullptr, std::unique_ptr<LUTFilePicker> picker = nullptr,
                       QWidget* parent = nullptr);
    ~CameraSettingsView() override;

    /// The camera's newer status: the controls follow it, the editing values stay.
    void setStatus(const CameraStatus& status);
    const CameraStatus& status() const { return status_; }
    /// Re-reads the histogram binding after its owner changed it.
    void refresh();

    const CameraSettingsModel& model() const { return model_; }
    bool showsAngle() const;

    /// The import button: asks for a file and loads it into the camera.
    void chooseLUTFile();
    /// Loads a chosen file: sends its table, or shows the alert "Couldn't use that LUT".
    void importLUT(const std::filesystem::path& file);
    const std::optional<std::string>& importError() const { return importError_; }
    QMessageBox* importAlert() const { return importAlert_; }

    /// The headers of the sections shown, in order.
    std::vector<QString> sectionHeaders() const;
    QWidget* sectionCard(SettingsSection section) const;
    /// A control by its label ("Zebras", "Frame rate", "Exposure", …), for tests and the screenshot program.
    QWidget* control(const QString& label) const;
    QScrollArea* scrollArea() const { return scroll_; }
    /// Scrolls so that the section's header is at the top.
    void scrollToSection(SettingsSection section);

signals:
    /// "Done": the sheet asks its presenter to close it; nothing is sent.
    void dismissRequested();

protected:
    void showEvent(QShowEvent* event) override;

private:
    struct Section;

    void build();
    /// A labelled row with a picker at its trailing end, added to the section and named in `controls_`.
    QWidget* addPickerRow(Section& section, const QString& label, QComboBox*& picker);
    void buildExposure(Section& section);
    void buildWhiteBalance(Section& section);
    void buildFocus(Section& section);
    void buildVideo(Section& section);
    void buildPhoto(Section& section);
    void buildSound(Section& section);
    void buildAids(Section& section);
    void buildLUT(Section& section);

    void refreshExposure();
    void refreshWhiteBalance();
    void refreshFocus();
    void refreshVideo();
    void refreshAids();
    void refreshLUT();

    void send(const CameraCommand& command);
    void sendIfAny(const std::optional<CameraCommand>& command);
    void sendAids(const std::function<void(ExposureAids&)>& change);
    void showImportError(std::string message);

    CameraStatus status_;
    Send send_;
    std::optional<BoolBinding> showHistogram_;
    StoredSettings& settings_;
    std::unique_ptr<LUTFilePicker> picker_;
    CameraSettingsModel model_;
    std::optional<std::string> importError_;
    QMessageBox* importAlert_ = nullptr;

    QScrollArea* scroll_ = nullptr;
    std::map<SettingsSection, std::unique_ptr<Section>> sections_;
    std::map<QString, QWidget*> controls_;

    // Exposure.
    SegmentedPicker* exposureMode_ = nullptr;
    QWidget* nowRow_ = nullptr;
    QLabel* nowValue_ = nullptr;
    QWidget* isoRow_ = nullptr;
    QLabel* isoLabel_ = nullptr;
    QSlider* isoSlider_ = nullptr;
    QWidget* shutterRow_ = nullptr;
    QComboBox* shutterPicker_ = nullptr;
    QWidget* angleRow_ = nullptr;
    QComboBox* anglePicker_ = nullptr;
    QWidget* apertureRow_ = nullptr;
    QComboBox* aperturePicker_ = nullptr;
    QWidget* apertureNowRow_ = nullptr;
    QLabel* apertureNowValue_ = nullptr;
    ToggleSwitch* angleToggle_ = nullptr;
    std::vector<double> shownShutters_, shownAngles_;
    std::vector<std::optional<float>> shownApertures_;

    // White balance.
    ToggleSwitch* whiteBalanceAuto_ = nullptr;
    QWidget* whiteBalanceManual_ = nullptr;
    QLabel* kelvinLabel_ = nullptr;
    QSlider* kelvinSlider_ = nullptr;
    QLabel* tintLabel_ = nullptr;
    QSlider* tintSlider_ = nullptr;

    // Focus.
    SegmentedPicker* focusPicker_ = nullptr;
    QWidget* lensRow_ = nullptr;
    QSlider* lensSlider_ = nullptr;

    // Video, Photo, Sound.
    QComboBox* resolutionPicker_ = nullptr;
    QComboBox* ratePicker_ = nullptr;
    QComboBox* colourPicker_ = nullptr;
    QWidget* codecRow_ = nullptr;
    QComboBox* codecPicker_ = nullptr;
    QWidget* driveRow_ = nullptr;
    QLabel* driveLabel_ = nullptr;
    ToggleSwitch* driveToggle_ = nullptr;
    QWidget* driveWarningRow_ = nullptr;
    QLabel* driveWarning_ = nullptr;
    QWidget* stabilizationRow_ = nullptr;
    QComboBox* stabilizationPicker_ = nullptr;
    ToggleSwitch* portraitToggle_ = nullptr;
    QComboBox* microphonePicker_ = nullptr;

    // Exposure aids.
    ToggleSwitch* zebras_ = nullptr;
    ToggleSwitch* peaking_ = nullptr;
    QWidget* peakingLevelRow_ = nullptr;
    QComboBox* peakingLevel_ = nullptr;
    ToggleSwitch* falseColor_ = nullptr;
    ToggleSwitch* clipping_ = nullptr;
    QComboBox* scope_ = nullptr;
    QWidget* histogramRow_ = nullptr;
    ToggleSwitch* histogram_ = nullptr;
    ToggleSwitch* grid_ = nullptr;
    ToggleSwitch* level_ = nullptr;

    // Monitoring LUT.
    QComboBox* lookPicker_ = nullptr;
};

}  // namespace morvane
