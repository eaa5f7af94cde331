#include "deck_ui/editor/retouch_sound_view.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QScrollArea>
#include <QSlider>
#include <QVBoxLayout>

#include <cmath>

#include "deck_ui/editor/editor_rules.h"
#include "deck_ui/editor/retouch_editor.h"
#include "editor_widgets.h"

namespace morvane {

using namespace editorui;

namespace {

constexpr int sliderSteps = 1000;
const char* groupStyle = "QFrame#group { background: #2c2c2e; border-radius: 10px; }";

QFrame* group(QWidget* parent) {
    auto* frame = new QFrame(parent);
    frame->setObjectName(QStringLiteral("group"));
    frame->setStyleSheet(QString::fromLatin1(groupStyle));
    auto* layout = new QVBoxLayout(frame);
    layout->setContentsMargins(16, 4, 16, 4);
    layout->setSpacing(0);
    return frame;
}

QFrame* separator(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFixedHeight(1);
    line->setStyleSheet(QStringLiteral("background: rgba(255,255,255,30);"));
    return line;
}

}  // namespace

RetouchSoundView::RetouchSoundView(RetouchEditor& editor, std::vector<std::string> cameras, QWidget* parent)
    : QDialog(parent), editor_(editor), cameras_(std::move(cameras)) {
    setWindowTitle(tr("Sound"));
    setObjectName(QStringLiteral("soundSheet"));
    resize(480, 560);
    setStyleSheet(QStringLiteral("QDialog#soundSheet { background: %1; }").arg(theme::sheetBackground().name()));

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);

    auto* bar = new QWidget(this);
    auto* barLayout = new QHBoxLayout(bar);
    barLayout->setContentsMargins(16, 10, 8, 10);
    auto* spacerLeft = new QWidget(bar);
    auto* done = textButton(tr("Done"), theme::TextStyle::body, [this] { accept(); }, bar, true);
    done->setObjectName(QStringLiteral("soundDone"));
    spacerLeft->setFixedWidth(done->sizeHint().width());
    barLayout->addWidget(spacerLeft);
    barLayout->addStretch();
    barLayout->addWidget(label(tr("Sound"), theme::TextStyle::headline, theme::white(), bar));
    barLayout->addStretch();
    barLayout->addWidget(done);
    outer->addWidget(bar);

    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* body = new QWidget(scroll);
    body->setObjectName(QStringLiteral("soundBody"));
    body->setStyleSheet(QStringLiteral("QWidget#soundBody { background: %1; }").arg(theme::sheetBackground().name()));
    content_ = new QVBoxLayout(body);
    content_->setContentsMargins(16, 8, 16, 16);
    content_->setSpacing(6);
    scroll->setWidget(body);
    outer->addWidget(scroll, 1);

    connect(&editor_, &RetouchEditor::editChanged, this, [this] {
        if (layoutKey() != builtFor_) {
            rebuild();
        } else {
            refreshValues();
        }
    });
    rebuild();
}

std::string RetouchSoundView::layoutKey() const {
    const auto& edit = editor_.edit();
    if (!edit) return "none";
    std::string key;
    for (const auto& camera : cameras_) {
        key += editor::soundRowChecked(edit->sound, cameras_, camera) ? "1" : "0";
        key += editor::showsVolume(edit->sound, camera) ? "1" : "0";
    }
    key += edit->sound.is<RetouchEdit::Sound::FollowPicture>() ? "f" : "";
    key += edit->sound.is<RetouchEdit::Sound::Mix>() ? "m" : "";
    return key;
}

void RetouchSoundView::change(const std::function<void(RetouchEdit&)>& write) {
    if (!editor_.edit()) return;
    RetouchEdit edit = *editor_.edit();
    write(edit);
    editor_.setWorkingEdit(edit);
}

void RetouchSoundView::refreshValues() {
    const auto& edit = editor_.edit();
    if (!edit) return;
    for (auto* slider : findChildren<QSlider*>()) {
        const auto camera = slider->property("camera").toString().toStdString();
        const QSignalBlocker block(slider);
        slider->setValue(int(std::lround(editor::volume(*edit, camera) * sliderSteps)));
    }
    for (auto* sync : findChildren<QLabel*>(QStringLiteral("syncLabel"))) {
        const auto camera = sync->property("camera").toString().toStdString();
        sync->setText(QString::fromStdString(editor::syncLabel(*edit, camera)));
    }
    for (auto* step : findChildren<QToolButton*>()) {
        const auto camera = step->property("camera").toString().toStdString();
        const double direction = step->property("direction").toDouble();
        if (direction == 0) continue;
        const double offset = editor::syncOffset(*edit, camera);
        step->setEnabled(direction > 0 ? offset < editor::syncOffsetLimit - 1e-9
                                       : offset > -editor::syncOffsetLimit + 1e-9);
    }
}

void RetouchSoundView::rebuild() {
    builtFor_ = layoutKey();
    theme::clearLayout(*content_);
    const auto& edit = editor_.edit();
    if (!edit) return;  // the take is gone: the sheet has no content
    QWidget* body = content_->parentWidget();

    // Whose sound.
    auto* choices = group(body);
    auto addChoice = [&](const QString& text, bool checked, std::function<void()> action) {
        if (choices->layout()->count() > 0) choices->layout()->addWidget(separator(choices));
        auto* row = new QPushButton(choices);
        row->setObjectName(QStringLiteral("soundChoice"));
        row->setAccessibleName(text);
        row->setFlat(true);
        row->setCursor(Qt::PointingHandCursor);
        row->setMinimumHeight(44);
        row->setStyleSheet(QStringLiteral("QPushButton { border: none; text-align: left; }"));
        auto* layout = new QHBoxLayout(row);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(label(text, theme::TextStyle::body, theme::white(), row));
        layout->addStretch();
        if (checked) {
            auto* mark = new QLabel(row);
            mark->setPixmap(symbolPixmap("checkmark", theme::blue(), symbolPixelSize(theme::pointSize(theme::TextStyle::body)),
                                         devicePixelRatioF()));
            mark->setObjectName(QStringLiteral("checkmark"));
            layout->addWidget(mark);
        }
        connect(row, &QPushButton::clicked, row, [action] { action(); });
        choices->layout()->addWidget(row);
    };
    for (const auto& camera : cameras_) {
        addChoice(QString::fromStdString(camera + " only"), editor::soundRowChecked(edit->sound, cameras_, camera),
                  [this, camera] { change([camera](RetouchEdit& e) { e.sound = RetouchEdit::Sound::camera(camera); }); });
    }
    addChoice(QStringLiteral("Follow the picture"), edit->sound.is<RetouchEdit::Sound::FollowPicture>(),
              [this] { change([](RetouchEdit& e) { e.sound = RetouchEdit::Sound::followPicture(); }); });
    addChoice(QStringLiteral("Mix all cameras"), edit->sound.is<RetouchEdit::Sound::Mix>(),
              [this] { change([](RetouchEdit& e) { e.sound = RetouchEdit::Sound::mix(); }); });
    content_->addWidget(choices);
    auto* footer = label(QString::fromStdString(editor::soundFooter(edit->sound)), theme::TextStyle::footnote,
                         theme::secondary(), body);
    footer->setObjectName(QStringLiteral("soundFooter"));
    footer->setWordWrap(true);
    footer->setContentsMargins(16, 0, 16, 12);
    content_->addWidget(footer);

    // Per camera.
    auto* header = label(tr("Per camera").toUpper(), theme::TextStyle::footnote, theme::secondary(), body);
    header->setContentsMargins(16, 8, 16, 0);
    content_->addWidget(header);
    auto* perCamera = group(body);
    for (const auto& camera : cameras_) {
        if (perCamera->layout()->count() > 0) perCamera->layout()->addWidget(separator(perCamera));
        const QString name = QString::fromStdString(camera);
        auto* row = new QWidget(perCamera);
        auto* rowLayout = new QVBoxLayout(row);
        rowLayout->setContentsMargins(0, 10, 0, 10);
        rowLayout->setSpacing(6);
        rowLayout->addWidget(label(name, theme::TextStyle::subheadline, theme::white(), row, QFont::DemiBold));
        if (editor::showsVolume(edit->sound, camera)) {
            auto* volumeRow = new QHBoxLayout();
            const qreal iconSize = symbolPixelSize(theme::pointSize(theme::TextStyle::caption));
            auto* quiet = new QLabel(row);
            quiet->setPixmap(symbolPixmap("speaker.fill", theme::secondary(), iconSize, devicePixelRatioF()));
            auto* loud = new QLabel(row);
            loud->setPixmap(symbolPixmap("speaker.wave.3.fill", theme::secondary(), iconSize, devicePixelRatioF()));
            auto* slider = new QSlider(Qt::Horizontal, row);
            slider->setRange(0, sliderSteps);
            slider->setProperty("camera", name);
            slider->setAccessibleName(tr("Volume of %1").arg(name));
            slider->setValue(int(std::lround(editor::volume(*edit, camera) * sliderSteps)));
            connect(slider, &QSlider::valueChanged, this, [this, camera](int value) {
                change([camera, value](RetouchEdit& e) { editor::setVolume(e, double(value) / sliderSteps, camera); });
            });
            volumeRow->addWidget(quiet);
            volumeRow->addWidget(slider, 1);
            volumeRow->addWidget(loud);
            rowLayout->addLayout(volumeRow);
        }
        auto* stepperRow = new QHBoxLayout();
        auto* sync = label(QString::fromStdString(editor::syncLabel(*edit, camera)), theme::TextStyle::caption,
                           theme::white(), row);
        sync->setFont(theme::monospacedDigits(theme::font(theme::TextStyle::caption)));
        sync->setObjectName(QStringLiteral("syncLabel"));
        sync->setProperty("camera", name);
        stepperRow->addWidget(sync);
        stepperRow->addStretch();
        for (const double direction : {-1.0, 1.0}) {
            auto* step = new QToolButton(row);
            step->setText(direction < 0 ? QStringLiteral("\u2212") : QStringLiteral("+"));
            step->setAccessibleName(direction < 0 ? tr("Earlier sound for %1").arg(name) : tr("Later sound for %1").arg(name));
            step->setProperty("camera", name);
            step->setProperty("direction", direction);
            step->setFixedSize(46, 30);
            step->setFont(theme::font(theme::TextStyle::body, QFont::DemiBold));
            step->setStyleSheet(QStringLiteral("QToolButton { background: #3a3a3c; border: none; color: white; "
                                               "border-radius: 7px; } QToolButton:disabled { color: #6c6c70; }"));
            connect(step, &QToolButton::clicked, this, [this, camera, direction] {
                change([camera, direction](RetouchEdit& e) {
                    const double wanted = editor::syncOffset(e, camera) + direction * editor::syncOffsetStep;
                    editor::setSyncOffset(e, std::clamp(wanted, -editor::syncOffsetLimit, editor::syncOffsetLimit),
                                          camera);
                });
            });
            stepperRow->addWidget(step);
        }
        rowLayout->addLayout(stepperRow);
        perCamera->layout()->addWidget(row);
    }
    if (!cameras_.empty()) content_->addWidget(perCamera);
    content_->addStretch(1);
    refreshValues();
}

}  // namespace morvane
