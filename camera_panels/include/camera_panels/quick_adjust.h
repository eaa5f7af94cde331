#pragma once

#include <QWidget>

#include <functional>
#include <vector>

#include "camera_panels/quick_adjust_model.h"
#include "protocol/camera_command.h"
#include "protocol/camera_status.h"

class QLabel;
class QSlider;
class QHBoxLayout;

namespace morvane {

class StoredSettings;
class SymbolButton;

/// The compact exposure strip of the capture controls: six chips with the camera's exposure bias, ISO,
/// shutter, aperture, white balance and focus, and below them one adjuster for the chosen chip with an "A"
/// button that returns it to automatic. Sliders send only while a person moves them; values the strip reads
/// from the camera never go back as commands.
class QuickAdjust : public QWidget {
    Q_OBJECT
public:
    using Send = std::function<void(const CameraCommand&)>;

    QuickAdjust(const CameraStatus& status, Send send, StoredSettings& settings, QWidget* parent = nullptr);

    /// A newer status: the chips follow at once, the sliders keep their values until the next sync.
    void setStatus(const CameraStatus& status);

    const QuickAdjustModel& model() const { return model_; }
    QuickAdjustModel::Control selected() const { return model_.selected; }
    /// Tapping a chip: makes it the selected control and reads the sliders anew; sends nothing.
    void select(QuickAdjustModel::Control control);
    /// The "A" button.
    void returnToAutomatic();

    /// The slider of the selected control (for tests), or none while it shows no slider.
    QSlider* activeSlider() const;
    QWidget* automaticButton() const;
    std::vector<QWidget*> chipButtons() const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    class Chip;
    class AutomaticButton;

    bool showsAngle() const;
    void sync();
    void refresh();
    void showSliderValues();
    QSlider* makeSlider(QuickAdjustModel::Control control);
    void sliderMoved(QuickAdjustModel::Control control, int position);

    CameraStatus status_;
    Send send_;
    StoredSettings& settings_;
    QuickAdjustModel model_;
    bool lastShowsAngle_ = false;

    QHBoxLayout* chipRow_ = nullptr;
    std::vector<Chip*> chips_;
    QWidget* adjusterHost_ = nullptr;
    QSlider* evSlider_ = nullptr;
    QLabel* manualNote_ = nullptr;
    QSlider* isoSlider_ = nullptr;
    QSlider* shutterSlider_ = nullptr;
    QSlider* apertureSlider_ = nullptr;
    QWidget* kelvinRow_ = nullptr;
    QLabel* kelvinLabel_ = nullptr;
    QSlider* kelvinSlider_ = nullptr;
    QWidget* focusRow_ = nullptr;
    QSlider* focusSlider_ = nullptr;
    QWidget* emptyAdjuster_ = nullptr;
    AutomaticButton* automatic_ = nullptr;
};

}  // namespace morvane
