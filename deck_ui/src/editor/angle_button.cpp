#include "deck_ui/editor/angle_button.h"

#include <QCoreApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QThreadPool>

#include <algorithm>
#include <cmath>

#include "deck/retouch_builder.h"
#include "deck/retouch_library.h"
#include "deck_ui/editor/editor_rules.h"
#include "deck_ui/editor/retouch_editor.h"
#include "deck_ui/editor/retouch_strip.h"
#include "platform/theme.h"

namespace morvane {

namespace {

constexpr qreal cornerRadius = 6;
constexpr qreal onAirBorder = 4;
constexpr qreal offAirBorder = 1.5;
constexpr qreal dash = 8;

}  // namespace

AngleButton::AngleButton(RetouchEditor& editor, std::string camera, QWidget* parent)
    : QAbstractButton(parent), editor_(editor), camera_(std::move(camera)) {
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    connect(&editor_, &RetouchEditor::timeChanged, this, &AngleButton::refresh);
    connect(&editor_, &RetouchEditor::editChanged, this, &AngleButton::refresh);
    refresh();
}

QSize AngleButton::sizeHint() const {
    const QFontMetrics metrics(theme::font(theme::TextStyle::caption2, QFont::DemiBold));
    return {120, pictureHeight + spacing + metrics.height()};
}

void AngleButton::refresh() {
    const auto take = editor_.take();
    const auto& edit = editor_.edit();
    const bool onAir = edit && edit->camera(editor_.time()) == camera_;
    const QColor color = take ? cameraColor(camera_, take->cameras()) : stripPalette()[0];
    if (onAir != onAir_ || color != color_) {
        onAir_ = onAir;
        color_ = color;
        setAccessibleName(QString::fromStdString(editor::cameraButtonLabel(camera_, onAir_)));
        update();
    }
    const auto key = editor::thumbnailKey(editor_.time());
    if (key_ && *key_ == key) return;
    key_ = key;
    loadThumbnail();
}

void AngleButton::loadThumbnail() {
    const auto take = editor_.take();
    if (!take) return;
    const RetouchClip* clip = nullptr;
    const auto picture = editor::buttonPictureFor(*take, camera_, editor_.time(), &clip);
    if (!clip) return;  // a camera without a copy keeps its picture
    if (!picture) {
        image_ = QImage();
        applied_ = ++requests_;
        update();
        return;
    }
    if (picture->dimmed != dimmed_) {
        dimmed_ = picture->dimmed;
        update();
    }
    const std::uint64_t request = ++requests_;
    QPointer<AngleButton> self(this);
    const std::filesystem::path directory = editor_.library().directory();
    QThreadPool::globalInstance()->start([self, request, take = *take, clip = *clip, directory, t = picture->clipTime] {
        QImage image = makeThumbnail(take, clip, directory, t);
        if (image.isNull()) return;  // a failed picture leaves the previous one
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, request, image = std::move(image)] {
                // A picture asked for earlier never replaces one asked for later.
                if (!self || request < self->applied_) return;
                self->applied_ = request;
                self->image_ = image;
                self->update();
            },
            Qt::QueuedConnection);
    });
}

QImage AngleButton::makeThumbnail(const RetouchTake& take, const RetouchClip& clip,
                                  const std::filesystem::path& directory, double clipTime) {
    RetouchTake one = take;
    one.clips = {clip};
    const auto sources = RetouchBuilder::loadSources(one, directory);
    if (sources.empty() || !sources.front().video || !(sources.front().duration > 0)) return {};
    const auto& source = sources.front();
    const double fit = std::min(1.0, thumbnailLimit / std::max(source.width, source.height));
    const double width = std::max(2.0, std::round(source.width * fit));
    const double height = std::max(2.0, std::round(source.height * fit));

    // A one-segment program of the whole copy, turned upright and fitted to the thumbnail's size.
    ProgramRenderer::Plan plan;
    plan.assets = {source.asset};
    const int track = plan.composition.addTrack(ProgramRenderer::MediaKind::video);
    if (!plan.composition.insertTimeRange(track, 0, source.video->streamIndex, MediaTime::zero(),
                                          MediaTime::fromSeconds(source.duration, 600), MediaTime::zero())) {
        return {};
    }
    ProgramRenderer::LayerInstruction layer;
    layer.trackID = track;
    layer.setTransform(RetouchBuilder::aspectFitTransform(source, width, height), MediaTime::zero());
    ProgramRenderer::Instruction instruction;
    instruction.duration = MediaTime::fromSeconds(source.duration, 600);
    instruction.layers.push_back(layer);
    plan.videoComposition.renderWidth = width;
    plan.videoComposition.renderHeight = height;
    plan.videoComposition.instructions.push_back(instruction);

    ProgramRenderer renderer(std::move(plan));
    // The copy's last moment shows its last frame.
    const double t = std::clamp(clipTime, 0.0, std::max(0.0, renderer.duration() - 0.001));
    const auto picture = renderer.pictureAt(t);
    if (picture.width <= 0 || picture.height <= 0) return {};
    return QImage(picture.rgba.data(), picture.width, picture.height, picture.width * 4, QImage::Format_RGBA8888)
        .convertToFormat(QImage::Format_RGB32);
}

void AngleButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setRenderHint(QPainter::SmoothPixmapTransform, true);
    const QRectF box(0, 0, width(), pictureHeight);
    QPainterPath shape;
    shape.addRoundedRect(box, cornerRadius, cornerRadius);
    p.save();
    p.setClipPath(shape);
    p.fillRect(box, Qt::black);
    if (!image_.isNull()) {
        QSizeF size = image_.size();
        size.scale(box.size(), Qt::KeepAspectRatio);
        const QRectF target(box.center().x() - size.width() / 2, box.center().y() - size.height() / 2, size.width(),
                            size.height());
        p.drawImage(target, image_);
        // The camera was not recording at the playhead: its nearest picture, dimmed.
        if (dimmed_) p.fillRect(box, theme::black(0.55));
    }
    if (isDown()) p.fillRect(box, theme::white(0.15));
    p.restore();

    // The border lies inside the rounded rectangle.
    const qreal border = onAir_ ? onAirBorder : offAirBorder;
    const QRectF inner = box.adjusted(border / 2, border / 2, -border / 2, -border / 2);
    const qreal innerRadius = std::max<qreal>(0, cornerRadius - border / 2);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(color_, border));
    p.drawRoundedRect(inner, innerRadius, innerRadius);
    if (onAir_) {
        QPen dashes(theme::red(), onAirBorder, Qt::CustomDashLine, Qt::FlatCap);
        dashes.setDashPattern({dash / onAirBorder, dash / onAirBorder});
        p.setPen(dashes);
        p.drawRoundedRect(inner, innerRadius, innerRadius);
    }

    const QFont font = theme::font(theme::TextStyle::caption2, QFont::DemiBold);
    p.setFont(font);
    p.setPen(theme::white());
    const QRectF nameRect(0, pictureHeight + spacing, width(), height() - pictureHeight - spacing);
    const QString name = QFontMetrics(font).elidedText(QString::fromStdString(camera_), Qt::ElideRight, width());
    p.drawText(nameRect, Qt::AlignHCenter | Qt::AlignTop, name);
}

}  // namespace morvane
