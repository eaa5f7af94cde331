#include "camera_panels/camera_settings_view.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QShowEvent>
#include <QSlider>
#include <QVBoxLayout>

#include <cmath>

#include "camera_panels/camera_numbers.h"
#include "camera_panels/exposure_tables.h"
#include "camera_panels/lut_file_picker.h"
#include "camera_panels/lut_import.h"
#include "camera_panels/panel_controls.h"
#include "camera_panels/status_texts.h"
#include "camera_panels/stored_settings.h"
#include "panel_slider_style.h"
#include "platform/symbols.h"
#include "platform/theme.h"
#include "protocol/timeline_rate.h"

namespace morvane {
namespace {

constexpr int isoSteps = 1000;
constexpr int lensSteps = 1000;
constexpr int kelvinStep = 100;
constexpr int rowMargin = 16;

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

/// The rounded card of a section; draws a hairline between the rows that are shown.
class FormCard : public QWidget {
public:
    explicit FormCard(QWidget* parent) : QWidget(parent) {
        rows_ = new QVBoxLayout(this);
        rows_->setContentsMargins(0, 0, 0, 0);
        rows_->setSpacing(0);
    }
    QVBoxLayout* rows() const { return rows_; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        theme::fillRoundedRect(painter, QRectF(rect()), 10, QColor(44, 44, 46));
        painter.setPen(QPen(theme::white(0.12), 0.6));
        bool first = true;
        for (int i = 0; i < rows_->count(); ++i) {
            QWidget* row = rows_->itemAt(i)->widget();
            if (!row || row->isHidden()) continue;
            if (!first) painter.drawLine(QPointF(rowMargin, row->y()), QPointF(width(), row->y()));
            first = false;
        }
    }

private:
    QVBoxLayout* rows_;
};

QLabel* bodyLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setFont(theme::font(theme::TextStyle::body));
    theme::setTextColor(*label, theme::white());
    return label;
}

QWidget* rowWidget(QWidget* parent, QHBoxLayout** layout, int minimumHeight = 44) {
    auto* row = new QWidget(parent);
    row->setMinimumHeight(minimumHeight);
    auto* h = new QHBoxLayout(row);
    h->setContentsMargins(rowMargin, 6, rowMargin, 6);
    h->setSpacing(8);
    *layout = h;
    return row;
}

QComboBox* makePicker(QWidget* parent) {
    return new FormPicker(parent);
}

/// Shows the options (replacing them only when they changed) and the chosen one, or none.
void showOptions(QComboBox* combo, const std::vector<std::string>& labels, std::optional<std::size_t> selected) {
    const QSignalBlocker blocker(combo);
    bool same = combo->count() == static_cast<int>(labels.size());
    for (int i = 0; same && i < combo->count(); ++i)
        same = combo->itemText(i) == qs(labels[static_cast<std::size_t>(i)]);
    if (!same) {
        combo->clear();
        for (const auto& label : labels) combo->addItem(qs(label));
    }
    combo->setCurrentIndex(selected ? static_cast<int>(*selected) : -1);
}

template <class T>
void showPicker(QComboBox* combo, const std::vector<PickerOption<T>>& options, const T& value) {
    std::vector<std::string> labels;
    std::optional<std::size_t> selected;
    for (std::size_t i = 0; i < options.size(); ++i) {
        labels.push_back(options[i].label);
        if (!selected && options[i].value == value) selected = i;
    }
    showOptions(combo, labels, selected);
}

void setSlider(QSlider* slider, int minimum, int maximum, int value) {
    const QSignalBlocker blocker(slider);
    slider->setRange(minimum, std::max(minimum, maximum));
    slider->setValue(value);
}

/// Calls `moved` with the new position for each change a person makes (drag, click, wheel, keys).
void onPersonMoves(QSlider* slider, QObject* context, std::function<void(int)> moved) {
    QObject::connect(slider, &QSlider::actionTriggered, context, [slider, moved = std::move(moved)](int) {
        if (slider->sliderPosition() != slider->value()) moved(slider->sliderPosition());
    });
}

QSlider* makeSlider(QWidget* parent) {
    auto* slider = new FormSlider(parent);
    stylePanelSlider(*slider, QStringLiteral("#0A84FF"));
    return slider;
}

}  // namespace

struct CameraSettingsView::Section {
    QWidget* container = nullptr;
    QLabel* header = nullptr;
    FormCard* card = nullptr;
    QLabel* footer = nullptr;

    void add(QWidget* row) { card->rows()->addWidget(row); }
};

CameraSettingsView::CameraSettingsView(const CameraStatus& status, Send send, std::optional<BoolBinding> showHistogram,
                                       StoredSettings* settings, std::unique_ptr<LUTFilePicker> picker, QWidget* parent)
    : QWidget(parent),
      status_(status),
      send_(std::move(send)),
      showHistogram_(std::move(showHistogram)),
      settings_(settings ? *settings : StoredSettings::shared()),
      picker_(picker ? std::move(picker) : makeFileDialogLUTPicker()) {
    theme::setBackground(*this, theme::sheetBackground());
    build();
    connect(&settings_, &StoredSettings::changed, this, [this] { refresh(); });
    refresh();
}

CameraSettingsView::~CameraSettingsView() = default;

bool CameraSettingsView::showsAngle() const {
    return settings_.boolValue(StoredSettings::shutterAsAngleKey, false);
}

void CameraSettingsView::build() {
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);

    // Navigation bar: the inline title and "Done" at the confirmation place.
    auto* bar = new QWidget(this);
    bar->setFixedHeight(52);
    auto* barLayout = new QHBoxLayout(bar);
    barLayout->setContentsMargins(16, 0, 16, 0);
    auto* balance = new QWidget(bar);
    auto* done = new QPushButton(QStringLiteral("Done"), bar);
    done->setFlat(true);
    done->setCursor(Qt::PointingHandCursor);
    done->setFont(theme::font(theme::TextStyle::headline));
    done->setStyleSheet(
        QStringLiteral("QPushButton { color: #0A84FF; border: none; background: transparent;"
                       " padding: 6px 0px; } QPushButton:pressed { color: rgba(10,132,255,120); }"));
    connect(done, &QPushButton::clicked, this, &CameraSettingsView::dismissRequested);
    controls_[QStringLiteral("Done")] = done;
    balance->setFixedWidth(done->sizeHint().width());
    auto* title = new QLabel(QStringLiteral("Camera settings"), bar);
    title->setFont(theme::font(theme::TextStyle::headline));
    theme::setTextColor(*title, theme::white());
    title->setAlignment(Qt::AlignCenter);
    barLayout->addWidget(balance);
    barLayout->addWidget(title, 1);
    barLayout->addWidget(done);
    outer->addWidget(bar);

    scroll_ = new QScrollArea(this);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setWidgetResizable(true);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* content = new QWidget(scroll_);
    theme::setBackground(*content, theme::sheetBackground());
    auto* form = new QVBoxLayout(content);
    form->setContentsMargins(16, 8, 16, 24);
    form->setSpacing(0);

    const SettingsSection order[] = {SettingsSection::exposure,     SettingsSection::whiteBalance,
                                     SettingsSection::focus,        SettingsSection::video,
                                     SettingsSection::photo,        SettingsSection::sound,
                                     SettingsSection::exposureAids, SettingsSection::monitoringLUT};
    for (SettingsSection kind : order) {
        auto section = std::make_unique<Section>();
        section->container = new QWidget(content);
        auto* column = new QVBoxLayout(section->container);
        column->setContentsMargins(0, 18, 0, 6);
        column->setSpacing(6);
        section->header = new QLabel(section->container);
        section->header->setFont(theme::font(theme::TextStyle::footnote, QFont::DemiBold));
        theme::setTextColor(*section->header, theme::secondary());
        section->header->setContentsMargins(rowMargin, 0, rowMargin, 0);
        column->addWidget(section->header);
        section->card = new FormCard(section->container);
        column->addWidget(section->card);
        section->footer = new QLabel(section->container);
        section->footer->setWordWrap(true);
        section->footer->setFont(theme::font(theme::TextStyle::footnote));
        theme::setTextColor(*section->footer, theme::secondary());
        section->footer->setContentsMargins(rowMargin, 0, rowMargin, 0);
        column->addWidget(section->footer);
        form->addWidget(section->container);
        switch (kind) {
            case SettingsSection::exposure:
                buildExposure(*section);
                break;
            case SettingsSection::whiteBalance:
                buildWhiteBalance(*section);
                break;
            case SettingsSection::focus:
                buildFocus(*section);
                break;
            case SettingsSection::video:
                buildVideo(*section);
                break;
            case SettingsSection::photo:
                buildPhoto(*section);
                break;
            case SettingsSection::sound:
                buildSound(*section);
                break;
            case SettingsSection::exposureAids:
                buildAids(*section);
                break;
            case SettingsSection::monitoringLUT:
                buildLUT(*section);
                break;
        }
        sections_[kind] = std::move(section);
    }
    form->addStretch(1);
    scroll_->setWidget(content);
    outer->addWidget(scroll_, 1);

    importAlert_ = new QMessageBox(this);
    importAlert_->setWindowTitle(QString::fromUtf8(lutImportErrorTitle));
    importAlert_->setText(QString::fromUtf8(lutImportErrorTitle));
    importAlert_->setIcon(QMessageBox::Warning);
    importAlert_->addButton(QStringLiteral("OK"), QMessageBox::RejectRole);
    importAlert_->setWindowModality(Qt::WindowModal);
    connect(importAlert_, &QMessageBox::finished, this, [this] { importError_.reset(); });
}

// MARK: - Exposure

void CameraSettingsView::buildExposure(Section& section) {
    QHBoxLayout* h = nullptr;
    auto* modeRow = rowWidget(section.card, &h);
    exposureMode_ = new SegmentedPicker(
        {{QStringLiteral("Auto"), {}}, {QStringLiteral("Manual"), {}}},
        [this](int index) { send(model_.exposureModeChosen(index == 1, status_, showsAngle())); }, modeRow);
    exposureMode_->setAccessibleName(QStringLiteral("Exposure"));
    h->addWidget(exposureMode_);
    section.add(modeRow);
    controls_[QStringLiteral("Exposure")] = exposureMode_;

    nowRow_ = rowWidget(section.card, &h);
    h->addWidget(bodyLabel(QStringLiteral("Now"), nowRow_));
    h->addStretch(1);
    nowValue_ = new QLabel(nowRow_);
    nowValue_->setFont(theme::monospacedDigits(theme::font(theme::TextStyle::subheadline)));
    theme::setTextColor(*nowValue_, theme::secondary());
    h->addWidget(nowValue_);
    section.add(nowRow_);

    isoRow_ = new QWidget(section.card);
    auto* isoColumn = new QVBoxLayout(isoRow_);
    isoColumn->setContentsMargins(rowMargin, 10, rowMargin, 6);
    isoColumn->setSpacing(2);
    isoLabel_ = new QLabel(isoRow_);
    isoLabel_->setFont(theme::monospacedDigits(theme::font(theme::TextStyle::subheadline)));
    theme::setTextColor(*isoLabel_, theme::white());
    isoColumn->addWidget(isoLabel_);
    isoSlider_ = makeSlider(isoRow_);
    isoSlider_->setAccessibleName(QStringLiteral("ISO"));
    isoColumn->addWidget(isoSlider_);
    onPersonMoves(isoSlider_, this, [this](int position) {
        const auto range =
            validRange(std::log2(std::max(1.0, finiteOr(status_.minISO, 1.0))),
                       std::log2(std::max(static_cast<double>(status_.maxISO), finiteOr(status_.minISO, 1.0) + 1)));
        const double log = range.lower + (range.upper - range.lower) * position / isoSteps;
        sendIfAny(model_.isoChanged(static_cast<float>(std::exp2(log)), status_, showsAngle()));
        refreshExposure();
    });
    section.add(isoRow_);
    controls_[QStringLiteral("ISO")] = isoSlider_;

    shutterRow_ = addPickerRow(section, QStringLiteral("Shutter"), shutterPicker_);
    connect(shutterPicker_, &QComboBox::activated, this, [this](int index) {
        if (index < 0 || index >= static_cast<int>(shownShutters_.size())) return;
        sendIfAny(model_.shutterChanged(shownShutters_[static_cast<std::size_t>(index)], status_, showsAngle()));
        refreshExposure();
    });

    angleRow_ = addPickerRow(section, QStringLiteral("Shutter angle"), anglePicker_);
    connect(anglePicker_, &QComboBox::activated, this, [this](int index) {
        if (index < 0 || index >= static_cast<int>(shownAngles_.size())) return;
        sendIfAny(model_.angleChanged(shownAngles_[static_cast<std::size_t>(index)], status_, showsAngle()));
        refreshExposure();
    });

    apertureRow_ = addPickerRow(section, QStringLiteral("Aperture"), aperturePicker_);
    connect(aperturePicker_, &QComboBox::activated, this, [this](int index) {
        if (index < 0 || index >= static_cast<int>(shownApertures_.size())) return;
        send(CameraCommand::SetAperture{shownApertures_[static_cast<std::size_t>(index)]});
    });

    apertureNowRow_ = rowWidget(section.card, &h);
    h->addWidget(bodyLabel(QStringLiteral("Aperture now"), apertureNowRow_));
    h->addStretch(1);
    apertureNowValue_ = new QLabel(apertureNowRow_);
    apertureNowValue_->setFont(theme::monospacedDigits(theme::font(theme::TextStyle::subheadline)));
    theme::setTextColor(*apertureNowValue_, theme::secondary());
    h->addWidget(apertureNowValue_);
    section.add(apertureNowRow_);

    auto* angleRow = rowWidget(section.card, &h);
    h->addWidget(bodyLabel(QStringLiteral("Shutter as angle"), angleRow));
    h->addStretch(1);
    angleToggle_ =
        new ToggleSwitch([this](bool on) { settings_.setBool(StoredSettings::shutterAsAngleKey, on); }, angleRow);
    h->addWidget(angleToggle_);
    section.add(angleRow);
    controls_[QStringLiteral("Shutter as angle")] = angleToggle_;
}

void CameraSettingsView::refreshExposure() {
    const bool manual = status_.exposure.is<ExposureSetting::Manual>();
    const bool angle = usesAngle(status_, showsAngle());
    exposureMode_->setSelected(manual ? 1 : 0);
    nowRow_->setVisible(!manual);
    nowValue_->setText(qs(exposureSummary(status_.liveISO, status_.liveShutter, exposureFps(status_), showsAngle())));
    isoRow_->setVisible(manual);
    shutterRow_->setVisible(manual && !angle);
    angleRow_->setVisible(manual && angle);
    if (manual) {
        isoLabel_->setText(qs(isoText(model_.iso)));
        const double minISO = finiteOr(status_.minISO, 1.0);
        const auto range = validRange(std::log2(std::max(1.0, minISO)),
                                      std::log2(std::max(static_cast<double>(status_.maxISO), minISO + 1)));
        const double position = range.upper > range.lower
                                    ? (std::log2(std::max(1e-9, static_cast<double>(model_.iso))) - range.lower) /
                                          (range.upper - range.lower)
                                    : 0.0;
        setSlider(isoSlider_, 0, isoSteps, static_cast<int>(std::lround(clampedTo(position, {0, 1}) * isoSteps)));

        shownShutters_ = shutterOptions(status_, model_.shutter);
        std::vector<std::string> labels;
        std::optional<std::size_t> selected;
        for (std::size_t i = 0; i < shownShutters_.size(); ++i) {
            labels.push_back(shutterText(shownShutters_[i]));
            if (shownShutters_[i] == model_.shutter) selected = i;
        }
        showOptions(shutterPicker_, labels, selected);

        shownAngles_ = angleOptions(status_, model_.angle);
        labels.clear();
        selected.reset();
        for (std::size_t i = 0; i < shownAngles_.size(); ++i) {
            labels.push_back(trimmedRateText(shownAngles_[i]));
            if (shownAngles_[i] == model_.angle) selected = i;
        }
        showOptions(anglePicker_, labels, selected);
    }

    apertureRow_->setVisible(!status_.apertureStops.empty());
    shownApertures_ = {std::nullopt};
    std::vector<std::string> labels{"Auto"};
    std::optional<std::size_t> selected;
    if (!status_.aperture) selected = 0;
    for (float stop : status_.apertureStops) {
        if (status_.aperture && *status_.aperture == stop && !selected) selected = shownApertures_.size();
        shownApertures_.push_back(stop);
        labels.push_back(fNumberText(stop));
    }
    showOptions(aperturePicker_, labels, selected);
    apertureNowRow_->setVisible(!status_.apertureStops.empty() && status_.liveAperture > 0);
    apertureNowValue_->setText(qs(fNumberText(status_.liveAperture)));
    angleToggle_->setOn(showsAngle());
}

// MARK: - White balance and focus

void CameraSettingsView::buildWhiteBalance(Section& section) {
    QHBoxLayout* h = nullptr;
    auto* autoRow = rowWidget(section.card, &h);
    h->addWidget(bodyLabel(QStringLiteral("Auto"), autoRow));
    h->addStretch(1);
    whiteBalanceAuto_ = new ToggleSwitch([this](bool on) { send(model_.whiteBalanceAutoToggled(on)); }, autoRow);
    h->addWidget(whiteBalanceAuto_);
    section.add(autoRow);
    controls_[QStringLiteral("Auto")] = whiteBalanceAuto_;

    whiteBalanceManual_ = new QWidget(section.card);
    auto* column = new QVBoxLayout(whiteBalanceManual_);
    column->setContentsMargins(rowMargin, 10, rowMargin, 10);
    column->setSpacing(4);
    kelvinLabel_ = new QLabel(whiteBalanceManual_);
    kelvinLabel_->setFont(theme::monospacedDigits(theme::font(theme::TextStyle::subheadline)));
    theme::setTextColor(*kelvinLabel_, theme::white());
    column->addWidget(kelvinLabel_);
    kelvinSlider_ = makeSlider(whiteBalanceManual_);
    kelvinSlider_->setRange(2500 / kelvinStep, 10000 / kelvinStep);
    kelvinSlider_->setAccessibleName(QStringLiteral("Temperature"));
    onPersonMoves(kelvinSlider_, this, [this](int position) {
        for (const auto& command : model_.kelvinChanged(static_cast<float>(position * kelvinStep), status_)) {
            send(command);
        }
        refreshWhiteBalance();
    });
    column->addWidget(kelvinSlider_);
    controls_[QStringLiteral("Temperature")] = kelvinSlider_;
    column->addSpacing(6);
    tintLabel_ = new QLabel(whiteBalanceManual_);
    tintLabel_->setFont(theme::monospacedDigits(theme::font(theme::TextStyle::subheadline)));
    theme::setTextColor(*tintLabel_, theme::white());
    column->addWidget(tintLabel_);
    tintSlider_ = makeSlider(whiteBalanceManual_);
    tintSlider_->setRange(-50, 50);
    tintSlider_->setAccessibleName(QStringLiteral("Tint"));
    onPersonMoves(tintSlider_, this, [this](int position) {
        for (const auto& command : model_.tintChanged(static_cast<float>(position), status_)) send(command);
        refreshWhiteBalance();
    });
    column->addWidget(tintSlider_);
    controls_[QStringLiteral("Tint")] = tintSlider_;
    column->addSpacing(6);

    // The presets wrap onto a second line: a row scrolling sideways hides "Shade" from a mouse, which has no
    // sideways swipe.
    auto* presets = new QWidget(whiteBalanceManual_);
    auto* presetGrid = new QGridLayout(presets);
    presetGrid->setContentsMargins(0, 0, 0, 0);
    presetGrid->setHorizontalSpacing(8);
    presetGrid->setVerticalSpacing(8);
    constexpr int presetColumns = 3;
    int presetIndex = 0;
    for (const auto& preset : whiteBalancePresets()) {
        auto* button = new QPushButton(QString::fromUtf8(preset.label), presets);
        button->setFont(theme::font(theme::TextStyle::caption));
        button->setCursor(Qt::PointingHandCursor);
        button->setMinimumWidth(0);
        button->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
        button->setStyleSheet(
            QStringLiteral("QPushButton { color: #0A84FF; background: rgba(10,132,255,38);"
                           " border: none; border-radius: 7px; padding: 6px 4px; }"
                           "QPushButton:pressed { background: rgba(10,132,255,80); }"));
        const float kelvin = preset.kelvin;
        connect(button, &QPushButton::clicked, this, [this, kelvin] {
            for (const auto& command : model_.presetChosen(kelvin, status_)) send(command);
            refreshWhiteBalance();
        });
        presetGrid->addWidget(button, presetIndex / presetColumns, presetIndex % presetColumns);
        ++presetIndex;
        controls_[QString::fromUtf8(preset.label)] = button;
    }
    for (int c = 0; c < presetColumns; ++c) presetGrid->setColumnStretch(c, 1);
    column->addWidget(presets);
    section.add(whiteBalanceManual_);
}

void CameraSettingsView::refreshWhiteBalance() {
    const bool manual = status_.whiteBalance.is<WhiteBalance::Manual>();
    whiteBalanceAuto_->setOn(!manual);
    whiteBalanceManual_->setVisible(manual);
    kelvinLabel_->setText(qs(kelvinText(model_.kelvin)));
    tintLabel_->setText(qs(tintText(model_.tint)));
    setSlider(kelvinSlider_, 2500 / kelvinStep, 10000 / kelvinStep,
              static_cast<int>(std::lround(clampedTo(model_.kelvin, {2500, 10000}) / kelvinStep)));
    setSlider(tintSlider_, -50, 50, static_cast<int>(std::lround(clampedTo(model_.tint, {-50, 50}))));
}

void CameraSettingsView::buildFocus(Section& section) {
    QHBoxLayout* h = nullptr;
    auto* pickerRow = rowWidget(section.card, &h);
    focusPicker_ = new SegmentedPicker(
        {}, [this](int index) { send(model_.focusChosen(index)); }, pickerRow);
    focusPicker_->setAccessibleName(QStringLiteral("Focus"));
    h->addWidget(focusPicker_);
    section.add(pickerRow);
    controls_[QStringLiteral("Focus")] = focusPicker_;

    lensRow_ = rowWidget(section.card, &h);
    const qreal symbolSize = symbolPixelSize(theme::pointSize(theme::TextStyle::body));
    auto* near = new QLabel(lensRow_);
    near->setPixmap(symbolPixmap("camera.macro", theme::white(), symbolSize, devicePixelRatioF()));
    h->addWidget(near);
    lensSlider_ = makeSlider(lensRow_);
    lensSlider_->setRange(0, lensSteps);
    lensSlider_->setAccessibleName(QStringLiteral("Lens position"));
    onPersonMoves(lensSlider_, this, [this](int position) {
        sendIfAny(model_.lensPositionChanged(static_cast<float>(position) / lensSteps));
    });
    h->addWidget(lensSlider_, 1);
    auto* far = new QLabel(lensRow_);
    far->setPixmap(symbolPixmap("mountain.2", theme::white(), symbolSize, devicePixelRatioF()));
    h->addWidget(far);
    section.add(lensRow_);
    controls_[QStringLiteral("Lens position")] = lensSlider_;
}

void CameraSettingsView::refreshFocus() {
    std::vector<SegmentedPicker::Segment> segments;
    for (const auto& option : focusOptions(status_)) segments.push_back({qs(option.label), {}});
    if (focusPicker_->count() != static_cast<int>(segments.size())) focusPicker_->setSegments(std::move(segments));
    // A reported mode without its segment (manual focus on a camera that claims no support) selects none.
    focusPicker_->setSelected(focusSelection(status_));
    lensRow_->setVisible(status_.focus.is<FocusSetting::Manual>());
    setSlider(lensSlider_, 0, lensSteps,
              static_cast<int>(std::lround(clampedTo(model_.lensPosition, {0, 1}) * lensSteps)));
}

QWidget* CameraSettingsView::addPickerRow(Section& section, const QString& label, QComboBox*& picker) {
    QHBoxLayout* h = nullptr;
    QWidget* row = rowWidget(section.card, &h);
    h->addWidget(bodyLabel(label, row));
    h->addStretch(1);
    picker = makePicker(row);
    h->addWidget(picker);
    section.add(row);
    controls_[label] = picker;
    return row;
}

// MARK: - Video, Photo and Sound

void CameraSettingsView::buildVideo(Section& section) {
    QHBoxLayout* h = nullptr;
    const auto pickerRow = [&](const QString& label, QComboBox*& picker) {
        return addPickerRow(section, label, picker);
    };
    pickerRow(QStringLiteral("Resolution"), resolutionPicker_);
    connect(resolutionPicker_, &QComboBox::activated, this, [this](int index) {
        const auto options = resolutionOptions(status_);
        if (index >= 0 && index < static_cast<int>(options.size())) {
            send(formatCommand(status_, options[static_cast<std::size_t>(index)].value));
        }
    });
    pickerRow(QStringLiteral("Frame rate"), ratePicker_);
    connect(ratePicker_, &QComboBox::activated, this, [this](int index) {
        const auto options = rateOptions(status_);
        if (index >= 0 && index < static_cast<int>(options.size())) {
            const auto& choice = options[static_cast<std::size_t>(index)].value;
            send(CameraCommand::SetFrameRate{choice.nominal, choice.ntsc});
        }
    });
    pickerRow(QStringLiteral("Colour"), colourPicker_);
    connect(colourPicker_, &QComboBox::activated, this, [this](int index) {
        const auto options = colourOptions(status_);
        if (index >= 0 && index < static_cast<int>(options.size())) {
            send(CameraCommand::SetColorProfile{options[static_cast<std::size_t>(index)].value});
        }
    });
    codecRow_ = pickerRow(QStringLiteral("Codec"), codecPicker_);
    connect(codecPicker_, &QComboBox::activated, this, [this](int index) {
        const auto options = codecOptions(status_);
        if (index >= 0 && index < static_cast<int>(options.size())) {
            send(CameraCommand::SetCodec{options[static_cast<std::size_t>(index)].value});
        }
    });

    driveRow_ = rowWidget(section.card, &h);
    driveLabel_ = bodyLabel(QString(), driveRow_);
    h->addWidget(driveLabel_);
    h->addStretch(1);
    driveToggle_ = new ToggleSwitch([this](bool on) { send(CameraCommand::SetRecordToDrive{on}); }, driveRow_);
    h->addWidget(driveToggle_);
    section.add(driveRow_);
    controls_[QStringLiteral("Record to")] = driveToggle_;

    driveWarningRow_ = rowWidget(section.card, &h, 32);
    auto* warningIcon = new QLabel(driveWarningRow_);
    warningIcon->setPixmap(symbolPixmap("exclamationmark.triangle", theme::orange(),
                                        symbolPixelSize(theme::pointSize(theme::TextStyle::footnote)),
                                        devicePixelRatioF()));
    h->addWidget(warningIcon);
    driveWarning_ = new QLabel(driveWarningRow_);
    driveWarning_->setFont(theme::font(theme::TextStyle::footnote));
    driveWarning_->setWordWrap(true);
    theme::setTextColor(*driveWarning_, theme::orange());
    h->addWidget(driveWarning_, 1);
    section.add(driveWarningRow_);

    stabilizationRow_ = pickerRow(QStringLiteral("Stabilisation"), stabilizationPicker_);
    connect(stabilizationPicker_, &QComboBox::activated, this, [this](int index) {
        const auto options = stabilizationOptions(status_);
        if (index >= 0 && index < static_cast<int>(options.size())) {
            send(CameraCommand::SetStabilization{options[static_cast<std::size_t>(index)].value});
        }
    });
}

void CameraSettingsView::buildPhoto(Section& section) {
    QHBoxLayout* h = nullptr;
    auto* row = rowWidget(section.card, &h);
    h->addWidget(bodyLabel(QStringLiteral("Portrait"), row));
    h->addStretch(1);
    portraitToggle_ = new ToggleSwitch([this](bool on) { send(CameraCommand::SetPortrait{on}); }, row);
    h->addWidget(portraitToggle_);
    section.add(row);
    controls_[QStringLiteral("Portrait")] = portraitToggle_;
}

void CameraSettingsView::buildSound(Section& section) {
    QHBoxLayout* h = nullptr;
    auto* row = rowWidget(section.card, &h);
    h->addWidget(bodyLabel(QStringLiteral("Microphone"), row));
    h->addStretch(1);
    microphonePicker_ = makePicker(row);
    h->addWidget(microphonePicker_);
    connect(microphonePicker_, &QComboBox::activated, this, [this](int index) {
        const auto options = microphoneOptions(status_);
        if (index >= 0 && index < static_cast<int>(options.size())) {
            send(CameraCommand::SetAudioInput{options[static_cast<std::size_t>(index)].value});
        }
    });
    section.add(row);
    controls_[QStringLiteral("Microphone")] = microphonePicker_;
}

void CameraSettingsView::refreshVideo() {
    showPicker(resolutionPicker_, resolutionOptions(status_), status_.resolution);
    showPicker(ratePicker_, rateOptions(status_), RateChoice{status_.frameRate, status_.ntsc});
    showPicker(colourPicker_, colourOptions(status_), status_.colorProfile);
    const auto codecs = codecOptions(status_);
    codecRow_->setVisible(!codecs.empty());
    showPicker(codecPicker_, codecs, status_.codec);
    driveRow_->setVisible(status_.externalDrive.has_value());
    driveWarningRow_->setVisible(status_.externalDrive && status_.externalDrive->warning);
    if (status_.externalDrive) {
        driveLabel_->setText(QStringLiteral("Record to ") + qs(status_.externalDrive->name));
        driveWarning_->setText(qs(status_.externalDrive->warning.value_or("")));
    }
    driveToggle_->setOn(status_.recordToDrive);
    const auto modes = stabilizationOptions(status_);
    stabilizationRow_->setVisible(!modes.empty());
    showPicker(stabilizationPicker_, modes, status_.stabilization);

    portraitToggle_->setOn(status_.portrait);
    portraitToggle_->setEnabled(portraitEnabled(status_));
    showPicker(microphonePicker_, microphoneOptions(status_), status_.audioInput);
}

// MARK: - Exposure aids

void CameraSettingsView::buildAids(Section& section) {
    QHBoxLayout* h = nullptr;
    const auto toggleRow = [&](const QString& label, std::function<void(bool)> toggled) {
        QWidget* row = rowWidget(section.card, &h);
        h->addWidget(bodyLabel(label, row));
        h->addStretch(1);
        auto* toggle = new ToggleSwitch(std::move(toggled), row);
        h->addWidget(toggle);
        section.add(row);
        controls_[label] = toggle;
        return std::pair{row, toggle};
    };
    const auto pickerRow = [&](const QString& label, QComboBox*& picker) {
        return addPickerRow(section, label, picker);
    };
    zebras_ = toggleRow(QStringLiteral("Zebras"), [this](bool on) {
                  sendAids([on](ExposureAids& a) { a.zebras = on; });
              }).second;
    peaking_ = toggleRow(QStringLiteral("Focus peaking"), [this](bool on) {
                   sendAids([on](ExposureAids& a) { a.peaking = on; });
               }).second;
    peakingLevelRow_ = pickerRow(QStringLiteral("Peaking sensitivity"), peakingLevel_);
    connect(peakingLevel_, &QComboBox::activated, this, [this](int index) {
        const auto options = peakingOptions();
        if (index < 0 || index >= static_cast<int>(options.size())) return;
        const PeakingLevel level = options[static_cast<std::size_t>(index)].value;
        sendAids([level](ExposureAids& a) { a.peakingLevel = level; });
    });
    falseColor_ = toggleRow(QStringLiteral("False colour"), [this](bool on) {
                      sendAids([on](ExposureAids& a) { a.falseColor = on; });
                  }).second;
    clipping_ = toggleRow(QStringLiteral("Clipping"), [this](bool on) {
                    sendAids([on](ExposureAids& a) { a.clipping = on; });
                }).second;
    pickerRow(QStringLiteral("Scope"), scope_);
    connect(scope_, &QComboBox::activated, this, [this](int index) {
        const auto options = scopeOptions();
        if (index < 0 || index >= static_cast<int>(options.size())) return;
        const ScopeKind kind = options[static_cast<std::size_t>(index)].value;
        sendAids([kind](ExposureAids& a) { a.scope = kind; });
    });
    std::tie(histogramRow_, histogram_) = toggleRow(QStringLiteral("Histogram"), [this](bool on) {
        if (showHistogram_ && showHistogram_->set) showHistogram_->set(on);
        refreshAids();
    });
    grid_ = toggleRow(QStringLiteral("Grid"), [this](bool on) {
                settings_.setBool(StoredSettings::showGridKey, on);
            }).second;
    level_ = toggleRow(QStringLiteral("Level"), [this](bool on) {
                 settings_.setBool(StoredSettings::showLevelKey, on);
             }).second;
}

void CameraSettingsView::refreshAids() {
    zebras_->setOn(status_.zebras);
    peaking_->setOn(status_.peaking);
    peakingLevelRow_->setVisible(status_.peaking);
    showPicker(peakingLevel_, peakingOptions(), status_.peakingLevel);
    falseColor_->setOn(status_.falseColor);
    clipping_->setOn(status_.clipping);
    showPicker(scope_, scopeOptions(), status_.scope);
    histogramRow_->setVisible(showHistogram_.has_value());
    histogram_->setOn(showHistogram_ && showHistogram_->get && showHistogram_->get());
    grid_->setOn(settings_.boolValue(StoredSettings::showGridKey, false));
    level_->setOn(settings_.boolValue(StoredSettings::showLevelKey, false));
}

void CameraSettingsView::sendAids(const std::function<void(ExposureAids&)>& change) {
    ExposureAids aids = reportedAids(status_);
    change(aids);
    send(CameraCommand::SetAids{aids});
}

// MARK: - Monitoring LUT

void CameraSettingsView::buildLUT(Section& section) {
    QHBoxLayout* h = nullptr;
    auto* lookRow = rowWidget(section.card, &h);
    h->addWidget(bodyLabel(QStringLiteral("Look"), lookRow));
    h->addStretch(1);
    lookPicker_ = makePicker(lookRow);
    h->addWidget(lookPicker_);
    connect(lookPicker_, &QComboBox::activated, this, [this](int index) {
        const auto options = lookOptions(status_);
        if (index >= 0 && index < static_cast<int>(options.size())) {
            send(CameraCommand::SetPreviewLUT{options[static_cast<std::size_t>(index)].value});
        }
    });
    section.add(lookRow);
    controls_[QStringLiteral("Look")] = lookPicker_;

    auto* importRow = rowWidget(section.card, &h);
    auto* import = new QPushButton(QStringLiteral("Import .cube LUT…"), importRow);
    import->setFont(theme::font(theme::TextStyle::body));
    import->setCursor(Qt::PointingHandCursor);
    import->setStyleSheet(
        QStringLiteral("QPushButton { color: #0A84FF; border: none; background: transparent;"
                       " text-align: left; padding: 4px 0px; }"
                       "QPushButton:pressed { color: rgba(10,132,255,120); }"));
    connect(import, &QPushButton::clicked, this, &CameraSettingsView::chooseLUTFile);
    h->addWidget(import);
    h->addStretch(1);
    section.add(importRow);
    controls_[QStringLiteral("Import .cube LUT…")] = import;
}

void CameraSettingsView::refreshLUT() {
    showPicker(lookPicker_, lookOptions(status_), status_.previewLUT);
}

void CameraSettingsView::chooseLUTFile() {
    if (const auto file = picker_->pickCubeFile(this)) importLUT(*file);
}

void CameraSettingsView::importLUT(const std::filesystem::path& file) {
    auto command = loadCustomLUTCommand(file);
    if (!command) {
        showImportError(lutImportErrorText);
        return;
    }
    send(CameraCommand(std::move(*command)));
}

void CameraSettingsView::showImportError(std::string message) {
    importError_ = std::move(message);
    importAlert_->setInformativeText(qs(*importError_));
    importAlert_->open();
}

// MARK: - Frame

void CameraSettingsView::setStatus(const CameraStatus& status) {
    status_ = status;
    refresh();
}

void CameraSettingsView::refresh() {
    const auto layouts = settingsSections(status_, showsAngle());
    for (auto& [kind, section] : sections_) {
        const auto it = std::find_if(layouts.begin(), layouts.end(),
                                     [kind = kind](const SectionLayout& l) { return l.section == kind; });
        section->container->setVisible(it != layouts.end());
        if (it == layouts.end()) continue;
        section->header->setText(qs(it->header));
        section->footer->setVisible(it->footer.has_value());
        section->footer->setText(qs(it->footer.value_or("")));
        section->card->setEnabled(it->enabled);
    }
    refreshExposure();
    refreshWhiteBalance();
    refreshFocus();
    refreshVideo();
    refreshAids();
    refreshLUT();
    for (auto& [kind, section] : sections_) section->card->update();
}

void CameraSettingsView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (event->spontaneous()) return;
    // The one-time copy of the camera's manual values; it sends nothing.
    model_.syncFromStatus(status_);
    refresh();
}

void CameraSettingsView::send(const CameraCommand& command) {
    if (send_) send_(command);
}

void CameraSettingsView::sendIfAny(const std::optional<CameraCommand>& command) {
    if (command) send(*command);
}

std::vector<QString> CameraSettingsView::sectionHeaders() const {
    std::vector<QString> headers;
    const SettingsSection order[] = {SettingsSection::exposure,     SettingsSection::whiteBalance,
                                     SettingsSection::focus,        SettingsSection::video,
                                     SettingsSection::photo,        SettingsSection::sound,
                                     SettingsSection::exposureAids, SettingsSection::monitoringLUT};
    for (SettingsSection kind : order) {
        const auto& section = sections_.at(kind);
        if (!section->container->isHidden()) headers.push_back(section->header->text());
    }
    return headers;
}

QWidget* CameraSettingsView::sectionCard(SettingsSection section) const {
    return sections_.at(section)->card;
}

QWidget* CameraSettingsView::control(const QString& label) const {
    const auto it = controls_.find(label);
    return it == controls_.end() ? nullptr : it->second;
}

void CameraSettingsView::scrollToSection(SettingsSection section) {
    scroll_->widget()->adjustSize();
    scroll_->verticalScrollBar()->setValue(sections_.at(section)->container->y());
}

}  // namespace morvane
