#pragma once

#include <QWidget>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "camera_panels/capture_controls_rules.h"
#include "platform/base64.h"
#include "protocol/camera_command.h"
#include "protocol/camera_status.h"

class QHBoxLayout;
class QLabel;
class QShortcut;

namespace morvane {

class LabeledControl;
class LensButton;
class QuickAdjust;
class SegmentedPicker;
class ShutterButton;
class StoredSettings;
class SymbolButton;

/// A two-way binding to a Bool that its owner keeps.
struct BoolBinding {
    std::function<bool()> get;
    std::function<void(bool)> set;
};

/// The floating control panel that drives one camera: shutter, mode, self-timer, lenses, front or back camera,
/// dimming, focus loupe, quick exposure adjustments, voice words, markers, the latest capture and the ways into
/// the camera's settings and gallery. It shows the status it is handed and sends one command per action; it
/// keeps no camera setting of its own. Collapsed or expanded, as stored under the creator's key.
///
/// Space and "m" reach the visible shutter and Mark whatever has the keyboard focus in the window.
class CaptureControls : public QWidget {
    Q_OBJECT
public:
    struct Inputs {
        CameraStatus status;
        std::function<void(const CameraCommand&)> send;
        std::optional<Bytes> latestThumbnail;
        std::function<void()> openGallery;
        bool voiceEnabled = false;
        std::function<void()> toggleVoice;
        /// Replaces the panel's own `shutter` command when given.
        std::function<void()> onShutter;
        /// Whether `onShutter` stops recording, when it acts on more than this camera; else the status says.
        std::optional<bool> shutterStopsRecording;
        /// The all-cameras switch; the All control is hidden without it.
        std::optional<BoolBinding> shutterAllCameras;
        /// Adds a marker; the Mark control is hidden without it.
        std::function<void()> onMark;
        /// The remote's histogram switch; handed over with the others, the bar itself shows no control for it.
        std::optional<BoolBinding> showHistogram;
        /// The lead-camera switch; the Lead control is hidden without it.
        std::optional<BoolBinding> master;
        std::function<void()> openSettings;
        /// Where the collapsed state is stored.
        std::string collapsedKey = "controlsCollapsed";
        /// The state shown while nothing is stored yet: collapsed where the window is too small for the panel.
        bool collapsedByDefault = false;
    };

    static constexpr int expandedMaximumWidth = 560;
    static constexpr int collapsedMaximumWidth = 300;

    /// `settings` defaults to the application's stored settings.
    explicit CaptureControls(Inputs inputs, StoredSettings* settings = nullptr, QWidget* parent = nullptr);
    ~CaptureControls() override;

    /// New inputs from the creator (a newer status, the voice flag, a binding that came or went).
    void setInputs(Inputs inputs);
    void setStatus(const CameraStatus& status);
    /// Re-reads the bindings after their owner changed them.
    void refresh();
    const Inputs& inputs() const { return inputs_; }

    bool isCollapsed() const;
    void setCollapsed(bool collapsed);

    /// What the shutter button and Space do.
    void shutterAction();

    // The parts, for the creator's tests and the screenshot program.
    ShutterButton* shutterButton() const;
    LabeledControl* sideControl(SideControlKind kind) const;
    SymbolButton* timerButton() const { return timer_; }
    SymbolButton* flipButton() const { return flip_; }
    SegmentedPicker* modePicker() const { return mode_; }
    QuickAdjust* quickAdjust() const { return quickAdjust_; }
    std::vector<LensButton*> lensButtons() const { return lenses_; }
    QLabel* zoomReadoutLabel() const { return zoomReadout_; }
    QWidget* galleryButton() const;

    /// Expanded, the panel takes its full width (its rows have flexible space); collapsed, what its bar needs.
    QSize sizeHint() const override;
    /// The panel's size in either state, whichever it shows now.
    QSize sizeHintWhen(bool collapsed) const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    class ThumbnailButton;

    void buildCollapsed();
    void buildExpanded();
    void rebuildLenses();
    void showCollapsedState();
    void sideControlPressed(SideControlKind kind);
    void send(const CameraCommand& command);

    Inputs inputs_;
    StoredSettings& settings_;

    QWidget* collapsedBar_ = nullptr;
    ShutterButton* collapsedShutter_ = nullptr;
    QWidget* expandedPanel_ = nullptr;
    std::map<SideControlKind, LabeledControl*> sideControls_;
    QHBoxLayout* lensRow_ = nullptr;
    std::vector<LensButton*> lenses_;
    std::vector<double> shownLenses_;
    QLabel* zoomReadout_ = nullptr;
    SymbolButton* flip_ = nullptr;
    QuickAdjust* quickAdjust_ = nullptr;
    ThumbnailButton* gallery_ = nullptr;
    SymbolButton* timer_ = nullptr;
    ShutterButton* expandedShutter_ = nullptr;
    SegmentedPicker* mode_ = nullptr;
    QShortcut* spaceShortcut_ = nullptr;
    QShortcut* markShortcut_ = nullptr;
};

}  // namespace morvane
