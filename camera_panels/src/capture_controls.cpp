#include "camera_panels/capture_controls.h"

#include <QAbstractButton>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QShortcut>
#include <QVBoxLayout>
#include <QVariantAnimation>

#include "camera_panels/labeled_control.h"
#include "camera_panels/lens_button.h"
#include "camera_panels/panel_controls.h"
#include "camera_panels/quick_adjust.h"
#include "camera_panels/shutter_button.h"
#include "camera_panels/stored_settings.h"
#include "platform/symbols.h"
#include "platform/theme.h"

namespace morvane {
namespace {

constexpr int collapsedPadding = 10;
constexpr int expandedPadding = 16;
constexpr qreal collapsedRadius = 40;
constexpr qreal expandedRadius = 24;

const SideControlKind sideOrder[] = {SideControlKind::hide,  SideControlKind::voice,   SideControlKind::dim,
                                     SideControlKind::loupe, SideControlKind::lead,    SideControlKind::mark,
                                     SideControlKind::all,   SideControlKind::settings};

}  // namespace

/// The latest capture's thumbnail in a 44-point rounded frame, or the photo-library symbol when there is none
/// or it does not decode.
class CaptureControls::ThumbnailButton : public QAbstractButton {
public:
    explicit ThumbnailButton(QWidget* parent) : QAbstractButton(parent) {
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::TabFocus);
        setAccessibleName(QStringLiteral("Recent captures"));
        setFixedSize(44, 44);
    }
    void setThumbnail(const std::optional<Bytes>& bytes) {
        if (bytes == bytes_) return;
        bytes_ = bytes;
        image_ = QImage();
        if (bytes_ && !bytes_->empty()) {
            image_.loadFromData(reinterpret_cast<const uchar*>(bytes_->data()), static_cast<int>(bytes_->size()));
        }
        update();
    }
    bool showsPicture() const { return !image_.isNull(); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        const QRectF frame = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        QPainterPath clip;
        clip.addRoundedRect(frame, 8, 8);
        if (isDown()) painter.setOpacity(0.7);
        if (!image_.isNull()) {
            painter.save();
            painter.setClipPath(clip);
            // Fill the frame, keeping the picture's shape.
            const QSizeF scaled = QSizeF(image_.size()).scaled(frame.size(), Qt::KeepAspectRatioByExpanding);
            painter.drawImage(QRectF(frame.center() - QPointF(scaled.width() / 2, scaled.height() / 2), scaled),
                              image_);
            painter.restore();
        } else {
            drawSymbol(painter, frame, "photo.on.rectangle", theme::white(),
                       symbolPixelSize(theme::pointSize(theme::TextStyle::title3)));
        }
        painter.setPen(QPen(theme::white(0.6), 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(clip);
    }

private:
    std::optional<Bytes> bytes_;
    QImage image_;
};

CaptureControls::CaptureControls(Inputs inputs, StoredSettings* settings, QWidget* parent)
    : QWidget(parent), inputs_(std::move(inputs)), settings_(settings ? *settings : StoredSettings::shared()) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAutoFillBackground(false);
    auto* stack = new QVBoxLayout(this);
    stack->setSpacing(0);
    buildCollapsed();
    buildExpanded();
    stack->addWidget(collapsedBar_, 0, Qt::AlignHCenter);
    stack->addWidget(expandedPanel_);

    // One shortcut per key for the whole panel: only one shutter is visible at a time, so Space always reaches
    // that one; a window shortcut comes before a focused button's own use of the key.
    spaceShortcut_ =
        new QShortcut(QKeySequence(Qt::Key_Space), this, this, &CaptureControls::shutterAction, Qt::WindowShortcut);
    markShortcut_ = new QShortcut(
        QKeySequence(Qt::Key_M), this, this, [this] { sideControlPressed(SideControlKind::mark); }, Qt::WindowShortcut);

    connect(&settings_, &StoredSettings::changed, this, [this](const QString& key) {
        if (key == QString::fromStdString(inputs_.collapsedKey)) showCollapsedState();
    });
    refresh();
    showCollapsedState();
}

CaptureControls::~CaptureControls() = default;

void CaptureControls::buildCollapsed() {
    collapsedBar_ = new QWidget(this);
    auto* row = new QHBoxLayout(collapsedBar_);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(18);
    auto* expand = new SymbolButton(
        "chevron.up", theme::TextStyle::headline, QSize(40, 40), [this] { setCollapsed(false); }, collapsedBar_);
    expand->setAccessibleName(QStringLiteral("Show controls"));
    row->addWidget(expand, 0, Qt::AlignVCenter);
    collapsedShutter_ = new ShutterButton(collapsedBar_);
    collapsedShutter_->setDrawingScale(0.75);
    connect(collapsedShutter_, &QAbstractButton::clicked, this, &CaptureControls::shutterAction);
    row->addWidget(collapsedShutter_, 0, Qt::AlignVCenter);
    auto* settingsButton = new SymbolButton(
        "slider.horizontal.3", theme::TextStyle::headline, QSize(40, 40),
        [this] {
            if (inputs_.openSettings) inputs_.openSettings();
        },
        collapsedBar_);
    settingsButton->setAccessibleName(QStringLiteral("Camera settings"));
    row->addWidget(settingsButton, 0, Qt::AlignVCenter);
}

void CaptureControls::buildExpanded() {
    expandedPanel_ = new QWidget(this);
    auto* column = new QVBoxLayout(expandedPanel_);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(14);

    // Row 1: side controls.
    auto* sideRow = new QHBoxLayout;
    sideRow->setSpacing(2);
    for (SideControlKind kind : sideOrder) {
        if (kind == SideControlKind::settings) {
            sideRow->addSpacing(4);
            sideRow->addStretch(1);
        }
        auto* control = new LabeledControl(
            QString(), std::string(), false, [this, kind] { sideControlPressed(kind); }, expandedPanel_);
        sideRow->addWidget(control, 0, Qt::AlignTop);
        sideControls_[kind] = control;
    }
    column->addLayout(sideRow);

    // Row 2: lenses, zoom readout and the front/back button.
    auto* lensLine = new QHBoxLayout;
    lensLine->setSpacing(8);
    lensRow_ = new QHBoxLayout;
    lensRow_->setSpacing(8);
    lensLine->addLayout(lensRow_);
    zoomReadout_ = new QLabel(expandedPanel_);
    zoomReadout_->setFont(theme::monospacedDigits(theme::font(theme::TextStyle::caption, QFont::Bold)));
    theme::setTextColor(*zoomReadout_, theme::yellow());
    lensLine->addWidget(zoomReadout_);
    lensLine->addStretch(1);
    flip_ = new SymbolButton(
        "arrow.triangle.2.circlepath.camera", theme::TextStyle::title3, QSize(44, 38),
        [this] { send(CameraCommand::SwitchCamera{}); }, expandedPanel_);
    lensLine->addWidget(flip_);
    column->addLayout(lensLine);

    // Row 3: quick adjust, starting afresh with EV selected.
    quickAdjust_ = new QuickAdjust(
        inputs_.status, [this](const CameraCommand& c) { send(c); }, settings_, expandedPanel_);
    column->addWidget(quickAdjust_);

    // Row 4: capture.
    auto* captureRow = new QHBoxLayout;
    gallery_ = new ThumbnailButton(expandedPanel_);
    connect(gallery_, &QAbstractButton::clicked, this, [this] {
        if (inputs_.openGallery) inputs_.openGallery();
    });
    captureRow->addWidget(gallery_, 0, Qt::AlignVCenter);
    timer_ = new SymbolButton(
        "timer", theme::TextStyle::subheadline, QSize(64, 44), [this] { send(timerCommand(inputs_.status)); },
        expandedPanel_);
    timer_->setMinimumSize(64, 44);
    captureRow->addWidget(timer_, 0, Qt::AlignVCenter);
    captureRow->addStretch(1);
    expandedShutter_ = new ShutterButton(expandedPanel_);
    connect(expandedShutter_, &QAbstractButton::clicked, this, &CaptureControls::shutterAction);
    captureRow->addWidget(expandedShutter_, 0, Qt::AlignVCenter);
    captureRow->addStretch(1);
    mode_ = new SegmentedPicker(
        {{QStringLiteral("Photo"), "camera"}, {QStringLiteral("Video"), "video"}},
        [this](int index) { send(CameraCommand::SetMode{index == 0 ? CaptureMode::photo : CaptureMode::video}); },
        expandedPanel_);
    mode_->setAccessibleName(QStringLiteral("Mode"));
    mode_->setFixedWidth(96);
    auto* modeColumn = new QVBoxLayout;
    modeColumn->setSpacing(8);
    modeColumn->addWidget(mode_, 0, Qt::AlignCenter);
    captureRow->addLayout(modeColumn);
    column->addLayout(captureRow);
}

void CaptureControls::setInputs(Inputs inputs) {
    const bool keyChanged =
        inputs.collapsedKey != inputs_.collapsedKey || inputs.collapsedByDefault != inputs_.collapsedByDefault;
    inputs_ = std::move(inputs);
    refresh();
    if (keyChanged) showCollapsedState();
}

void CaptureControls::setStatus(const CameraStatus& status) {
    inputs_.status = status;
    refresh();
}

void CaptureControls::refresh() {
    const CameraStatus& status = inputs_.status;
    const bool busy = isCaptureBusy(status);

    CaptureControlsOptions options;
    options.voiceEnabled = inputs_.voiceEnabled;
    if (inputs_.master && inputs_.master->get) options.master = inputs_.master->get();
    options.hasMark = static_cast<bool>(inputs_.onMark);
    if (inputs_.shutterAllCameras && inputs_.shutterAllCameras->get) {
        options.shutterAllCameras = inputs_.shutterAllCameras->get();
    }
    const auto shown = sideControls(status, options);
    for (auto& [kind, control] : sideControls_) {
        const auto it =
            std::find_if(shown.begin(), shown.end(), [kind = kind](const SideControl& c) { return c.kind == kind; });
        control->setVisible(it != shown.end());
        if (it == shown.end()) continue;
        control->setTitle(QString::fromStdString(it->title));
        control->setSystemImage(it->symbol);
        control->setActive(it->active);
        control->setAccessibleName(QString::fromStdString(it->accessibilityLabel));
    }
    markShortcut_->setEnabled(
        std::any_of(shown.begin(), shown.end(), [](const SideControl& c) { return c.kind == SideControlKind::mark; }));

    rebuildLenses();
    const auto readout = zoomReadout(status);
    zoomReadout_->setVisible(readout.has_value());
    zoomReadout_->setText(QString::fromStdString(readout.value_or("")));
    flip_->setEnabled(!busy);
    flip_->setAccessibleName(status.isFrontCamera ? QStringLiteral("Use back camera")
                                                  : QStringLiteral("Use front camera"));

    quickAdjust_->setStatus(status);

    gallery_->setThumbnail(inputs_.latestThumbnail);
    timer_->setLabel(QString::fromStdString(timerText(status.timerSeconds)),
                     theme::font(theme::TextStyle::subheadline, QFont::DemiBold));
    timer_->setAccessibleName(QString::fromStdString(timerAccessibleName(status.timerSeconds)));
    timer_->setEnabled(!busy);
    for (ShutterButton* shutter : {collapsedShutter_, expandedShutter_}) {
        shutter->setState(status.mode, inputs_.shutterStopsRecording.value_or(status.isRecording),
                          status.countdown.has_value());
    }
    mode_->setSelected(status.mode == CaptureMode::photo ? 0 : 1);
    mode_->setEnabled(!busy);
}

void CaptureControls::rebuildLenses() {
    if (inputs_.status.lenses != shownLenses_) {
        for (LensButton* button : lenses_) delete button;
        lenses_.clear();
        shownLenses_ = inputs_.status.lenses;
        for (double lens : shownLenses_) {
            auto* button = new LensButton(lens, isLensSelected(inputs_.status.zoom, lens), expandedPanel_);
            connect(button, &QAbstractButton::clicked, this, [this, lens] {
                send(CameraCommand::SetZoom{lens, true});
            });
            lensRow_->addWidget(button);
            lenses_.push_back(button);
        }
    }
    for (LensButton* button : lenses_) {
        button->setSelected(isLensSelected(inputs_.status.zoom, button->lens()));
        button->setToolTip(
            QString::fromStdString(lensToolTip(lensLabelText(button->lens(), true).toStdString(), lenses_.size())));
    }
}

bool CaptureControls::isCollapsed() const {
    return settings_.boolValue(inputs_.collapsedKey, inputs_.collapsedByDefault);
}

void CaptureControls::setCollapsed(bool collapsed) {
    settings_.setBool(inputs_.collapsedKey, collapsed);
    showCollapsedState();
}

void CaptureControls::showCollapsedState() {
    const bool collapsed = isCollapsed();
    QWidget* appearing = collapsed ? collapsedBar_ : expandedPanel_;
    if (isVisible() && appearing->isHidden()) {
        // The new state fades in with an ease-out curve of 0.2 s.
        auto* effect = new QGraphicsOpacityEffect(appearing);
        effect->setOpacity(0);
        appearing->setGraphicsEffect(effect);
        auto* fade = new QVariantAnimation(appearing);
        fade->setDuration(200);
        fade->setEasingCurve(QEasingCurve::OutCubic);
        fade->setStartValue(0.0);
        fade->setEndValue(1.0);
        connect(fade, &QVariantAnimation::valueChanged, effect,
                [effect](const QVariant& value) { effect->setOpacity(value.toDouble()); });
        connect(fade, &QVariantAnimation::finished, appearing, [appearing] { appearing->setGraphicsEffect(nullptr); });
        fade->start(QAbstractAnimation::DeleteWhenStopped);
    }
    collapsedBar_->setVisible(collapsed);
    expandedPanel_->setVisible(!collapsed);
    const int padding = collapsed ? collapsedPadding : expandedPadding;
    layout()->setContentsMargins(padding, padding, padding, padding);
    setMaximumWidth(collapsed ? collapsedMaximumWidth : expandedMaximumWidth);
    updateGeometry();
    update();
}

void CaptureControls::shutterAction() {
    if (inputs_.onShutter) {
        inputs_.onShutter();
    } else {
        send(CameraCommand::Shutter{});
    }
}

void CaptureControls::sideControlPressed(SideControlKind kind) {
    switch (kind) {
        case SideControlKind::hide:
            setCollapsed(true);
            break;
        case SideControlKind::voice:
            if (inputs_.toggleVoice) inputs_.toggleVoice();
            break;
        case SideControlKind::dim:
            send(dimCommand(inputs_.status));
            break;
        case SideControlKind::loupe:
            send(loupeCommand(inputs_.status));
            break;
        case SideControlKind::lead:
            if (inputs_.master && inputs_.master->get && inputs_.master->set) {
                inputs_.master->set(!inputs_.master->get());
            }
            break;
        case SideControlKind::mark:
            if (inputs_.onMark) inputs_.onMark();
            break;
        case SideControlKind::all:
            if (inputs_.shutterAllCameras && inputs_.shutterAllCameras->get && inputs_.shutterAllCameras->set) {
                inputs_.shutterAllCameras->set(!inputs_.shutterAllCameras->get());
            }
            break;
        case SideControlKind::settings:
            if (inputs_.openSettings) inputs_.openSettings();
            break;
    }
    refresh();
}

void CaptureControls::send(const CameraCommand& command) {
    if (inputs_.send) inputs_.send(command);
}

ShutterButton* CaptureControls::shutterButton() const {
    return isCollapsed() ? collapsedShutter_ : expandedShutter_;
}

LabeledControl* CaptureControls::sideControl(SideControlKind kind) const {
    const auto it = sideControls_.find(kind);
    return it == sideControls_.end() ? nullptr : it->second;
}

QWidget* CaptureControls::galleryButton() const {
    return gallery_;
}

QSize CaptureControls::sizeHint() const {
    const QSize natural = QWidget::sizeHint();
    if (isCollapsed()) return {std::min(natural.width(), collapsedMaximumWidth), natural.height()};
    return {expandedMaximumWidth, natural.height()};
}

QSize CaptureControls::sizeHintWhen(bool collapsed) const {
    if (collapsed == isCollapsed()) return sizeHint();
    QWidget* content = collapsed ? collapsedBar_ : expandedPanel_;
    const int padding = collapsed ? collapsedPadding : expandedPadding;
    const QSize natural = content->sizeHint() + QSize(2 * padding, 2 * padding);
    if (collapsed) return {std::min(natural.width(), collapsedMaximumWidth), natural.height()};
    return {expandedMaximumWidth, natural.height()};
}

void CaptureControls::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // Nearly opaque: without the platform's blur, pictures and the figures drawn on them would show through
    // and cross the panel's own labels.
    theme::fillRoundedRect(painter, QRectF(rect()), isCollapsed() ? collapsedRadius : expandedRadius,
                           QColor(24, 24, 28, 242));
}

}  // namespace morvane
