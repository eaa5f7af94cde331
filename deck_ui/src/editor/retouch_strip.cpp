#include "deck_ui/editor/retouch_strip.h"

#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWheelEvent>

#include <cmath>

#include "deck_ui/editor/retouch_editor.h"
#include "platform/theme.h"

namespace morvane {

namespace {

constexpr qreal blockTop = 6, blockHeight = 36;
constexpr qreal dimHeight = 48;
constexpr qreal outlineTop = 3, outlineHeight = 42;
constexpr qreal markHeight = 54;
constexpr double zoomPerWheelStep = 1.0015;  // per eighth of a degree: one notch zooms by about 20 %

// Removed parts: dark with white lines rising at 45 degrees, 8 points apart.
void drawHatch(QPainter& p, const QRectF& r) {
    p.save();
    p.setClipRect(r, Qt::IntersectClip);
    p.fillRect(r, theme::black(0.75));
    p.setPen(QPen(theme::white(0.55), 2));
    const qreal h = r.height();
    for (qreal x = -h; x < r.width(); x += 8) {
        p.drawLine(QPointF(r.left() + x, r.top() + h), QPointF(r.left() + x + h, r.top()));
    }
    p.restore();
}

void strokeOutline(QPainter& p, qreal left, qreal width) {
    QPainterPath path;
    // The 3-point line lies inside the rectangle.
    path.addRoundedRect(QRectF(left + 1.5, outlineTop + 1.5, width - 3, outlineHeight - 3), 2, 2);
    p.setPen(QPen(theme::white(), 3));
    p.setBrush(Qt::NoBrush);
    p.drawPath(path);
}

}  // namespace

const std::array<QColor, 6>& stripPalette() {
    static const std::array<QColor, 6> palette{
        theme::rgb(1.0, 0.784, 0.239), theme::blue(),      theme::green(),
        QColor(191, 90, 242) /* purple */, QColor(255, 55, 95) /* pink */, theme::orange(),
    };
    return palette;
}

QColor cameraColor(const std::string& camera, const std::vector<std::string>& cameras) {
    return stripPalette()[std::size_t(editor::cameraColorIndex(camera, cameras))];
}

RetouchStrip::RetouchStrip(RetouchEditor& editor, QWidget* parent) : QWidget(parent), editor_(editor) {
    setFixedHeight(stripHeight);
    setMinimumWidth(120);
    setAccessibleName(tr("Switching strip"));
    auto redraw = [this] { update(); };
    connect(&editor_, &RetouchEditor::editChanged, this, redraw);
    connect(&editor_, &RetouchEditor::selectionChanged, this, redraw);
    connect(&editor_, &RetouchEditor::viewChanged, this, redraw);
    connect(&editor_, &RetouchEditor::timeChanged, this, [this] {
        followPlayhead();
        update();
    });
}

StripGeometry RetouchStrip::geometry() const {
    return StripGeometry{editor_.duration(), editor_.zoom(), editor_.viewStart(), double(width())};
}

void RetouchStrip::followPlayhead() {
    if (dragScrolls_.value_or(false)) return;  // a scrolling drag keeps the view where the hand puts it
    editor_.setViewStart(geometry().followPlayhead(editor_.time()));
}

std::optional<Uuid> RetouchStrip::markAt(qreal x) const {
    const auto& edit = editor_.edit();
    const auto g = geometry();
    if (!edit || !(g.scale() > 0)) return std::nullopt;
    std::optional<Uuid> best;
    qreal bestDistance = 0;
    for (const auto& s : edit->switches) {
        if (!(s.time > 0)) continue;
        const bool selected = editor_.selection() == EditorSelection::switchPoint(s.id);
        const qreal left = g.x(s.time) - 3;
        const qreal right = left + (selected ? 6 : 3);
        if (x < left - markTouchMargin || x > right + markTouchMargin) continue;
        const qreal distance = std::fabs(x - (left + right) / 2);
        if (!best || distance < bestDistance) {
            best = s.id;
            bestDistance = distance;
        }
    }
    return best;
}

void RetouchStrip::paintEvent(QPaintEvent*) {
    const auto& edit = editor_.edit();
    if (!edit) return;
    const auto take = editor_.take();
    const auto cameras = take ? take->cameras() : std::vector<std::string>{};
    const auto g = geometry();
    const qreal scale = g.scale();
    const qreal w = width();

    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, true);
    QPainterPath clip;
    clip.addRoundedRect(QRectF(rect()), 6, 6);
    p.setClipPath(clip);

    for (const auto& block : edit->blocks(g.duration)) {
        const qreal width = std::max(1.0, (block.end - block.start) * scale);
        p.fillRect(QRectF(g.x(block.start), blockTop, width, blockHeight), cameraColor(block.camera, cameras));
    }
    for (const auto& section : edit->removedSections.value_or(std::vector<RetouchEdit::Section>{})) {
        const qreal width = std::max(2.0, (section.end - section.start) * scale);
        drawHatch(p, QRectF(g.x(section.start), blockTop, width, blockHeight));
    }
    p.fillRect(QRectF(0, 0, std::max(0.0, g.x(edit->trimStart)), dimHeight), theme::black(0.6));
    const qreal endX = g.x(edit->trimEnd);
    p.fillRect(QRectF(std::max(0.0, endX), 0, std::max(0.0, w - endX), dimHeight), theme::black(0.6));

    if (const auto& selection = editor_.selection()) {
        if (const auto* block = selection->as<EditorSelection::Block>()) {
            strokeOutline(p, g.x(block->start), std::max(4.0, (block->end - block->start) * scale));
        } else if (const auto* removed = selection->as<EditorSelection::Removed>()) {
            for (const auto& section : edit->removedSections.value_or(std::vector<RetouchEdit::Section>{})) {
                if (section.id != removed->id) continue;
                strokeOutline(p, g.x(section.start), std::max(4.0, (section.end - section.start) * scale));
                break;
            }
        }
    }

    for (const auto& s : edit->switches) {
        if (!(s.time > 0)) continue;
        const bool selected = editor_.selection() == EditorSelection::switchPoint(s.id);
        const qreal markWidth = selected ? 6 : 3;
        theme::fillCapsule(p, QRectF(g.x(s.time) - 3, 0, markWidth, markHeight),
                           selected ? theme::white() : theme::white(0.75));
    }

    p.fillRect(QRectF(g.x(editor_.time()) - 1, 0, 2, stripHeight), theme::red());

    if (const auto badge = StripGeometry::zoomBadge(editor_.zoom())) {
        p.setClipping(false);
        const QFont font = theme::font(theme::TextStyle::caption2, QFont::Bold);
        const QString text = QString::fromStdString(*badge);
        const QFontMetricsF metrics(font);
        const QSizeF size(metrics.horizontalAdvance(text) + 6, metrics.height() + 6);
        const QRectF badgeRect(w - 2 - size.width(), stripHeight - 2 - size.height(), size.width(), size.height());
        theme::fillCapsule(p, badgeRect, theme::black(0.6));
        p.setFont(font);
        p.setPen(theme::white());
        p.drawText(badgeRect, Qt::AlignCenter, text);
    }
}

void RetouchStrip::seekTo(qreal x) {
    const auto g = geometry();
    // A strip without width gives no time: the gesture does nothing.
    if (const auto t = g.t(x)) editor_.seek(std::min(g.duration, std::max(0.0, *t)));
}

void RetouchStrip::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    const qreal x = event->position().x();
    if (auto mark = markAt(x)) {
        markPressed_ = mark;
        markDragging_ = false;
        dragStartX_ = x;
        return;
    }
    dragStartX_ = x;
    dragViewStart_ = editor_.viewStart();
    dragScrolls_ = StripGeometry::dragScrolls(editor_.zoom(), x, geometry().x(editor_.time()));
    if (!*dragScrolls_) seekTo(x);
}

void RetouchStrip::mouseMoveEvent(QMouseEvent* event) {
    const qreal x = event->position().x();
    if (markPressed_) {
        if (!markDragging_ && std::fabs(x - dragStartX_) < markDragDistance) return;
        markDragging_ = true;
        editor_.setSelection(EditorSelection::switchPoint(*markPressed_));
        if (const auto t = geometry().t(x)) editor_.moveSwitch(*markPressed_, *t);
        return;
    }
    if (!dragScrolls_) return;
    if (*dragScrolls_) {
        const auto g = geometry();
        if (g.scale() > 0) editor_.setViewStart(g.clampViewStart(dragViewStart_ - (x - dragStartX_) / g.scale()));
    } else {
        seekTo(x);
    }
}

void RetouchStrip::mouseReleaseEvent(QMouseEvent* event) {
    const qreal x = event->position().x();
    if (markPressed_) {
        if (!markDragging_) {
            const auto selected = EditorSelection::switchPoint(*markPressed_);
            editor_.setSelection(editor_.selection() == selected ? std::nullopt : std::optional(selected));
        }
        markPressed_.reset();
        markDragging_ = false;
        return;
    }
    if (dragScrolls_.value_or(false) && std::fabs(x - dragStartX_) < StripGeometry::tapSlop) seekTo(x);
    dragScrolls_.reset();
}

void RetouchStrip::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    if (const auto t = geometry().t(event->position().x())) editor_.selectBlock(*t);
}

void RetouchStrip::pinch(double magnification) {
    const double base = pinchStart_.value_or(editor_.zoom());
    const auto next = geometry().pinched(base, magnification);
    editor_.setZoom(next.zoom);
    editor_.setViewStart(next.viewStart);
}

void RetouchStrip::wheelEvent(QWheelEvent* event) {
    const QPoint angle = event->angleDelta();
    if (event->modifiers() & Qt::ControlModifier) {
        // Ctrl+wheel is the desktop's pinch: each step zooms about the strip's centre.
        pinchStart_.reset();
        pinch(std::pow(zoomPerWheelStep, angle.y() != 0 ? angle.y() : angle.x()));
        event->accept();
        return;
    }
    const qreal sideways = !event->pixelDelta().isNull() ? event->pixelDelta().x() : angle.x() / 4.0;
    const auto g = geometry();
    if (sideways == 0 || !(g.scale() > 0)) return event->ignore();  // up and down scroll the editor
    editor_.setViewStart(g.clampViewStart(editor_.viewStart() - sideways / g.scale()));
    event->accept();
}

bool RetouchStrip::event(QEvent* event) {
    if (event->type() == QEvent::NativeGesture) {
        auto* gesture = static_cast<QNativeGestureEvent*>(event);
        switch (gesture->gestureType()) {
            case Qt::BeginNativeGesture:
                pinchStart_ = editor_.zoom();
                pinchMagnification_ = 1;
                return true;
            case Qt::ZoomNativeGesture:
                if (!pinchStart_) pinchStart_ = editor_.zoom();
                pinchMagnification_ *= 1 + gesture->value();
                pinch(pinchMagnification_);
                return true;
            case Qt::EndNativeGesture:
                pinchStart_.reset();
                return true;
            default:
                break;
        }
    }
    return QWidget::event(event);
}

}  // namespace morvane
