#pragma once

#include <QPointer>
#include <QWidget>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "remote/camera_link.h"

class QHBoxLayout;
class QLabel;
class QPushButton;
class QScrollArea;
class QVBoxLayout;

namespace morvane {

class AppLogo;
class MonitorController;

/// What a nearby camera's row shows: its state label and its control, by the first rule that holds
/// (this device, connected, connecting, paired, otherwise).
struct NearbyRowFace {
    enum class Label { none, thisDevice, connected, paired };
    enum class Control { none, disconnect, spinner, connect, pair };
    Label label = Label::none;
    Control control = Control::none;
    friend bool operator==(const NearbyRowFace&, const NearbyRowFace&) = default;
};
NearbyRowFace nearbyRowFace(const CameraLink::NearbyCamera& camera);

/// A row of the nearby list as laid out: its camera, its top and height in the scrolled column, and whether it
/// stays through the change at hand.
struct NearbyRowPlace {
    PeerId id;
    int top = 0;
    int height = 0;
    bool stays = true;
};
/// The row that keeps its place on screen while rows come and go, and how far below the visible top it lies.
struct ScrollAnchor {
    PeerId id;
    int offset = 0;
    friend bool operator==(const ScrollAnchor&, const ScrollAnchor&) = default;
};
/// The row under the pointer (at `pointer` in the column), else the first row that shows below the visible top
/// (the column scrolled by `scrolled`); of the rows that stay.
std::optional<ScrollAnchor> scrollAnchor(const std::vector<NearbyRowPlace>& rows, int scrolled,
                                         std::optional<int> pointer);

/// True when no camera but this device is listed: the list shows the waiting text instead of rows.
bool showsWaitingText(const std::vector<CameraLink::NearbyCamera>& cameras);
/// "2 of 4 connected"; empty for a remote that shows fewer than two cameras.
QString connectedCountLine(std::size_t connected, int cameraLimit);
/// The waiting text.
QString nearbyWaitingText();

/// A small spinning activity indicator, white.
class ActivitySpinner : public QWidget {
    Q_OBJECT
public:
    explicit ActivitySpinner(int side = 20, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    int timer_ = 0;
    int angle_ = 0;
};

/// A symbol and a text on one line, in one colour (the platform's label with an icon).
class SymbolLabel : public QWidget {
    Q_OBJECT
public:
    SymbolLabel(std::string systemImage, QString text, QColor color, QFont font, QWidget* parent = nullptr);
    const QString& text() const { return text_; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::string systemImage_;
    QString text_;
    QColor color_;
    QFont font_;
};

/// One nearby camera: its name and state label, and at the trailing end its control, which calls the
/// controller's peer link directly ("Pair" and "Connect" are the same call).
class NearbyCameraRow : public QWidget {
    Q_OBJECT
public:
    NearbyCameraRow(std::shared_ptr<MonitorController> controller, CameraLink::NearbyCamera camera,
                    QWidget* parent = nullptr);

    const CameraLink::NearbyCamera& camera() const { return camera_; }
    NearbyRowFace face() const { return nearbyRowFace(camera_); }
    /// The control's button, when the control is one.
    QPushButton* button() const;
    /// The state label, when there is one.
    SymbolLabel* stateLabel() const { return stateLabel_; }

    /// The same camera as the link now lists it: the row changes in place.
    void setCamera(CameraLink::NearbyCamera camera);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void showFace(std::optional<NearbyRowFace> was);
    void act();

    std::weak_ptr<MonitorController> controller_;
    CameraLink::NearbyCamera camera_;
    QLabel* name_ = nullptr;
    QVBoxLayout* column_ = nullptr;
    QPushButton* button_ = nullptr;
    ActivitySpinner* spinner_ = nullptr;
    SymbolLabel* stateLabel_ = nullptr;
};

/// The list of nearby cameras from the controller's mirror of the link's nearby list: one row per camera, in the
/// link's order, or, while only this device is listed, a spinner and the waiting text. Shared by the cameras
/// sheet, the picture area without cameras and the nearby-devices sheet. A row is kept while its camera is listed
/// and changes in place; as cameras come and go, the row under the pointer (else the first one in view) keeps its
/// place on screen.
class NearbyCameraList : public QWidget {
    Q_OBJECT
public:
    explicit NearbyCameraList(std::shared_ptr<MonitorController> controller, QWidget* parent = nullptr);

    std::vector<NearbyCameraRow*> rows() const;
    QLabel* waitingText() const { return waiting_; }
    /// Where the rows scroll.
    QScrollArea* scrollArea() const { return scroll_; }

    void refresh();

private:
    void holdPlace(const std::vector<CameraLink::NearbyCamera>& cameras);
    void keepPlace();

    std::shared_ptr<MonitorController> controller_;
    QScrollArea* scroll_;
    QVBoxLayout* column_;
    QWidget* waitingBox_;
    QLabel* waiting_;
    std::vector<QPointer<NearbyCameraRow>> rows_;
    std::optional<ScrollAnchor> anchor_;
    bool keeping_ = false;
};

/// The content of the "Cameras" sheet and of the picture area while no camera is connected: the logo while
/// none is connected, the title "Nearby cameras", the count line, then the list; at most 420 wide, centred.
class NearbyCamerasView : public QWidget {
    Q_OBJECT
public:
    /// Centred in the picture area; from the top in a scrolling sheet.
    enum class Placement { centred, top };

    explicit NearbyCamerasView(std::shared_ptr<MonitorController> controller, QWidget* parent = nullptr);
    NearbyCamerasView(std::shared_ptr<MonitorController> controller, Placement placement, QWidget* parent = nullptr);

    static constexpr int maximumContentWidth = 420;
    /// Shorter than this, the view leaves out the logo.
    static constexpr int leastHeightWithLogo = 400;

    AppLogo* logo() const { return logo_; }
    QLabel* countLine() const { return count_; }
    NearbyCameraList* list() const { return list_; }

    void refresh();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    std::shared_ptr<MonitorController> controller_;
    AppLogo* logo_;
    QLabel* count_;
    NearbyCameraList* list_;
};

/// The nearby-devices sheet: the devices the link sees nearby, with the same rows and actions as the
/// cameras sheet, under the title "Nearby devices".
class NetworkView : public QWidget {
    Q_OBJECT
public:
    explicit NetworkView(std::shared_ptr<MonitorController> controller, QWidget* parent = nullptr);
    NearbyCameraList* list() const { return list_; }

private:
    NearbyCameraList* list_;
};

}  // namespace morvane
