#include "camera_panels/quick_adjust.h"

#include <QAbstractButton>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QShowEvent>
#include <QSlider>
#include <QVBoxLayout>

#include <cmath>

#include "camera_panels/status_texts.h"
#include "camera_panels/stored_settings.h"
#include "panel_slider_style.h"
#include "platform/symbols.h"
#include "platform/theme.h"

namespace morvane {
namespace {

using Control = QuickAdjustModel::Control;
using Adjuster = QuickAdjustModel::Adjuster;

// Slider positions: sliders count in whole steps.
constexpr int evStepsPerStop = 10;    // 0.1 stop
constexpr int kelvinStep = 100;       // 100 K
constexpr int continuousSteps = 1000;  // ISO and lens position

}  // namespace

/// One chip of the first row: its text on a capsule, black on yellow when selected.
class QuickAdjust::Chip : public QAbstractButton {
public:
    Chip(Control control, QWidget* parent) : QAbstractButton(parent), control_(control) {
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::TabFocus);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        setMinimumHeight(28);
    }
    Control control() const { return control_; }
    void show(const QuickAdjustModel::Chip& chip, bool selected) {
        text_ = QString::fromStdString(chip.text);
        automatic_ = chip.automatic;
        selected_ = selected;
        setAccessibleName(text_);
        setAccessibleDescription(automatic_ ? QStringLiteral("Automatic") : QStringLiteral("Manual"));
        update();
    }
    QSize sizeHint() const override {
        const QFontMetricsF metrics(font());
        return {qCeil(metrics.horizontalAdvance(text_) + 16), 28};
    }
    QSize minimumSizeHint() const override { return {24, 28}; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        theme::fillCapsule(painter, QRectF(rect()), selected_ ? theme::yellow() : theme::white(0.12));
        const QColor color = selected_ ? theme::black() : (automatic_ ? theme::white() : theme::yellow());
        const auto fitted = theme::fitOneLine(theme::monospacedDigits(theme::font(theme::TextStyle::caption,
                                                                                  QFont::DemiBold)),
                                              text_, width() - 16, 0.7);
        painter.setFont(fitted.font);
        painter.setPen(isDown() ? theme::withOpacity(color, 0.6) : color);
        painter.drawText(QRectF(rect()).adjusted(8, 0, -8, 0), Qt::AlignCenter, fitted.text);
    }

private:
    Control control_;
    QString text_;
    bool automatic_ = true;
    bool selected_ = false;
};

/// The "A" button: black on white while the selected setting is automatic, white on faint white otherwise.
class QuickAdjust::AutomaticButton : public QAbstractButton {
public:
    explicit AutomaticButton(QWidget* parent) : QAbstractButton(parent) {
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::TabFocus);
        setAccessibleName(QStringLiteral("Automatic"));
        setFixedSize(30, 28);
    }
    void setAutomatic(bool automatic) {
        automatic_ = automatic;
        update();
    }
    bool isAutomatic() const { return automatic_; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        theme::fillRoundedRect(painter, QRectF(rect()), 7, automatic_ ? theme::white() : theme::white(0.15));
        painter.setPen(automatic_ ? theme::black() : theme::white());
        if (isDown()) painter.setOpacity(0.6);
        painter.setFont(theme::font(theme::TextStyle::caption, QFont::Black));
        painter.drawText(QRectF(rect()), Qt::AlignCenter, QStringLiteral("A"));
    }

private:
    bool automatic_ = true;
};

QuickAdjust::QuickAdjust(const CameraStatus& status, Send send, StoredSettings& settings, QWidget* parent)
    : QWidget(parent), status_(status), send_(std::move(send)), settings_(settings) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(8);

    chipRow_ = new QHBoxLayout;
    chipRow_->setSpacing(6);
    for (Control control : {Control::ev, Control::iso, Control::shutter, Control::aperture, Control::whiteBalance,
                            Control::focus}) {
        auto* chip = new Chip(control, this);
        connect(chip, &QAbstractButton::clicked, this, [this, control] { select(control); });
        chipRow_->addWidget(chip);
        chips_.push_back(chip);
    }
    column->addLayout(chipRow_);

    auto* adjusterRow = new QHBoxLayout;
    adjusterRow->setSpacing(10);
    adjusterHost_ = new QWidget(this);
    adjusterHost_->setMinimumHeight(30);
    auto* host = new QHBoxLayout(adjusterHost_);
    host->setContentsMargins(0, 0, 0, 0);
    host->setSpacing(0);

    evSlider_ = makeSlider(Control::ev);
    evSlider_->setRange(-2 * evStepsPerStop, 2 * evStepsPerStop);
    host->addWidget(evSlider_);

    manualNote_ = new QLabel(QString::fromUtf8(QuickAdjustModel::manualExposureNote), adjusterHost_);
    manualNote_->setFont(theme::font(theme::TextStyle::caption));
    theme::setTextColor(*manualNote_, theme::secondary());
    manualNote_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    manualNote_->setWordWrap(true);
    host->addWidget(manualNote_);

    isoSlider_ = makeSlider(Control::iso);
    isoSlider_->setRange(0, continuousSteps);
    host->addWidget(isoSlider_);
    shutterSlider_ = makeSlider(Control::shutter);
    host->addWidget(shutterSlider_);
    apertureSlider_ = makeSlider(Control::aperture);
    host->addWidget(apertureSlider_);

    kelvinRow_ = new QWidget(adjusterHost_);
    auto* kelvinLayout = new QHBoxLayout(kelvinRow_);
    kelvinLayout->setContentsMargins(0, 0, 0, 0);
    kelvinLayout->setSpacing(6);
    kelvinLabel_ = new QLabel(kelvinRow_);
    kelvinLabel_->setFont(theme::monospacedDigits(theme::font(theme::TextStyle::caption)));
    kelvinLabel_->setFixedWidth(46);
    kelvinLabel_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    theme::setTextColor(*kelvinLabel_, theme::white());
    kelvinLayout->addWidget(kelvinLabel_);
    kelvinSlider_ = makeSlider(Control::whiteBalance);
    kelvinSlider_->setRange(2500 / kelvinStep, 10000 / kelvinStep);
    kelvinLayout->addWidget(kelvinSlider_, 1);
    host->addWidget(kelvinRow_);

    focusRow_ = new QWidget(adjusterHost_);
    auto* focusLayout = new QHBoxLayout(focusRow_);
    focusLayout->setContentsMargins(0, 0, 0, 0);
    focusLayout->setSpacing(6);
    const qreal captionSymbol = symbolPixelSize(theme::pointSize(theme::TextStyle::caption));
    auto* near = new QLabel(focusRow_);
    near->setPixmap(symbolPixmap("camera.macro", theme::white(), captionSymbol, devicePixelRatioF()));
    focusLayout->addWidget(near);
    focusSlider_ = makeSlider(Control::focus);
    focusSlider_->setRange(0, continuousSteps);
    focusLayout->addWidget(focusSlider_, 1);
    auto* far = new QLabel(focusRow_);
    far->setPixmap(symbolPixmap("mountain.2", theme::white(), captionSymbol, devicePixelRatioF()));
    focusLayout->addWidget(far);
    host->addWidget(focusRow_);

    emptyAdjuster_ = new QWidget(adjusterHost_);
    host->addWidget(emptyAdjuster_);

    adjusterRow->addWidget(adjusterHost_, 1);
    automatic_ = new AutomaticButton(this);
    connect(automatic_, &QAbstractButton::clicked, this, &QuickAdjust::returnToAutomatic);
    adjusterRow->addWidget(automatic_, 0, Qt::AlignVCenter);
    column->addLayout(adjusterRow);

    lastShowsAngle_ = showsAngle();
    connect(&settings_, &StoredSettings::changed, this, [this](const QString& key) {
        if (key != QLatin1String(StoredSettings::shutterAsAngleKey)) return;
        // A new angle preference re-reads the sliders, as a new chip does.
        lastShowsAngle_ = showsAngle();
        sync();
    });
    sync();
}

bool QuickAdjust::showsAngle() const { return settings_.boolValue(StoredSettings::shutterAsAngleKey, false); }

QSlider* QuickAdjust::makeSlider(Control control) {
    auto* slider = new QSlider(Qt::Horizontal, adjusterHost_);
    stylePanelSlider(*slider);
    slider->setFocusPolicy(Qt::TabFocus);
    // A person's change, by drag, click, wheel or keys, sends; values set from the camera (under a signal
    // blocker) never do.
    connect(slider, &QSlider::actionTriggered, this, [this, slider, control](int) {
        if (slider->sliderPosition() != slider->value()) sliderMoved(control, slider->sliderPosition());
    });
    return slider;
}

void QuickAdjust::sliderMoved(Control control, int position) {
    switch (control) {
        case Control::ev: model_.ev = static_cast<float>(position) / evStepsPerStop; break;
        case Control::iso: {
            const auto range = QuickAdjustModel::isoLogRange(status_);
            model_.isoLog =
                static_cast<float>(range.lower + (range.upper - range.lower) * position / continuousSteps);
            break;
        }
        case Control::shutter: model_.shutterIndex = position; break;
        case Control::aperture: model_.apertureIndex = position; break;
        case Control::whiteBalance:
            model_.kelvin = static_cast<float>(position * kelvinStep);
            kelvinLabel_->setText(QString::number(position * kelvinStep) + QStringLiteral("K"));
            break;
        case Control::focus: model_.lens = static_cast<float>(position) / continuousSteps; break;
    }
    if (auto command = model_.sliderCommand(control, status_, showsAngle())) {
        if (send_) send_(*command);
    }
}

void QuickAdjust::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (event->spontaneous()) return;
    // Each appearance starts afresh, with EV selected, as the panel builds a new strip when it expands.
    model_ = QuickAdjustModel{};
    sync();
}

void QuickAdjust::setStatus(const CameraStatus& status) {
    status_ = status;
    const bool angle = showsAngle();
    if (angle != lastShowsAngle_) {
        lastShowsAngle_ = angle;
        sync();
        return;
    }
    refresh();
}

void QuickAdjust::select(Control control) {
    if (control == model_.selected) return;
    model_.selected = control;
    sync();
}

void QuickAdjust::returnToAutomatic() {
    const CameraCommand command = model_.automaticCommand(status_);
    if (send_) send_(command);
    refresh();
}

void QuickAdjust::sync() {
    model_.sync(status_, showsAngle());
    refresh();
}

void QuickAdjust::refresh() {
    const bool angle = showsAngle();
    const auto chips = QuickAdjustModel::chips(status_, angle);
    for (Chip* chip : chips_) {
        const auto it = std::find_if(chips.begin(), chips.end(),
                                     [&](const QuickAdjustModel::Chip& c) { return c.control == chip->control(); });
        chip->setVisible(it != chips.end());
        if (it != chips.end()) chip->show(*it, chip->control() == model_.selected);
    }
    const Adjuster adjuster = QuickAdjustModel::adjuster(model_.selected, status_, angle);
    evSlider_->setVisible(adjuster == Adjuster::evSlider);
    manualNote_->setVisible(adjuster == Adjuster::manualExposureNote);
    isoSlider_->setVisible(adjuster == Adjuster::isoSlider);
    shutterSlider_->setVisible(adjuster == Adjuster::shutterSlider);
    apertureSlider_->setVisible(adjuster == Adjuster::apertureSlider);
    kelvinRow_->setVisible(adjuster == Adjuster::kelvinSlider);
    focusRow_->setVisible(adjuster == Adjuster::focusSlider);
    emptyAdjuster_->setVisible(adjuster == Adjuster::none);
    automatic_->setAutomatic(QuickAdjustModel::showsAutomatic(model_.selected, status_));
    showSliderValues();
}

void QuickAdjust::showSliderValues() {
    const auto set = [](QSlider* slider, int minimum, int maximum, int value) {
        const QSignalBlocker blocker(slider);
        slider->setRange(minimum, std::max(minimum, maximum));
        slider->setValue(value);
    };
    const auto position = [](double value, const ValueRange& range, int steps) {
        if (!(range.upper > range.lower)) return 0;
        return static_cast<int>(std::lround(clampedTo((value - range.lower) / (range.upper - range.lower), {0, 1}) *
                                            steps));
    };
    set(evSlider_, -2 * evStepsPerStop, 2 * evStepsPerStop,
        static_cast<int>(std::lround(clampedTo(model_.ev, {-2, 2}) * evStepsPerStop)));
    set(isoSlider_, 0, continuousSteps, position(model_.isoLog, QuickAdjustModel::isoLogRange(status_), continuousSteps));
    const int shutterCount = static_cast<int>(QuickAdjustModel::shutterChoices(status_, showsAngle()).size());
    set(shutterSlider_, 0, shutterCount - 1, static_cast<int>(clampedTo(model_.shutterIndex, {0, 1e6})));
    set(apertureSlider_, 0, static_cast<int>(status_.apertureStops.size()) - 1,
        static_cast<int>(clampedTo(model_.apertureIndex, {0, 1e6})));
    const double kelvin = clampedTo(model_.kelvin, {2500, 10000});
    set(kelvinSlider_, 2500 / kelvinStep, 10000 / kelvinStep, static_cast<int>(std::lround(kelvin / kelvinStep)));
    kelvinLabel_->setText(wholeNumberText(wholeNumber(model_.kelvin)).append("K").c_str());
    set(focusSlider_, 0, continuousSteps, position(model_.lens, {0, 1}, continuousSteps));
}

QSlider* QuickAdjust::activeSlider() const {
    for (QSlider* slider : {evSlider_, isoSlider_, shutterSlider_, apertureSlider_, kelvinSlider_, focusSlider_}) {
        if (!slider->isHidden() && !slider->parentWidget()->isHidden()) return slider;
    }
    return nullptr;
}

QWidget* QuickAdjust::automaticButton() const { return automatic_; }

std::vector<QWidget*> QuickAdjust::chipButtons() const { return {chips_.begin(), chips_.end()}; }

}  // namespace morvane
