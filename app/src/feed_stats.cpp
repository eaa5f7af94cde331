#include "app/feed_stats.h"

#include <QFontMetricsF>
#include <QPainter>

#include "app/health_line.h"
#include "app/health_line_rules.h"
#include "camera_panels/status_texts.h"
#include "platform/theme.h"
#include "remote/camera_feed.h"

namespace morvane {

using namespace theme;

namespace {
constexpr qreal lineSpacing = 3;
// The figures sit on a dark backing of their own: a halo alone leaves them unreadable on a bright picture.
constexpr qreal padX = 6, padY = 3, backingRadius = 6;
constexpr qreal backingOpacity = 0.72;
QFont statsFont() {
    return monospacedDigits(theme::font(TextStyle::caption2));
}
qreal statsHeight() {
    return QFontMetricsF(statsFont()).height();
}
}  // namespace

FeedStats::FeedStats(std::shared_ptr<CameraFeed> feed, bool takesCaptures, QWidget* parent)
    : QWidget(parent), feed_(std::move(feed)), takesCaptures_(takesCaptures), health_(new HealthLine(this)) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    connect(feed_.get(), &CameraFeed::statsChanged, this, &FeedStats::updateStats);
    connect(feed_.get(), &CameraFeed::statusChanged, this, [this] {
        updateStats();
        updateHealth();
    });
    // The microphone level changes far more often than the rest: only the health line follows it.
    connect(&feed_->live(), &LiveReadings::audioLevelChanged, this, &FeedStats::updateHealth);
    updateStats();
    updateHealth();
}

bool FeedStats::healthLineShown() const {
    return !health_->isHidden();
}

void FeedStats::updateStats() {
    const auto& stats = feed_->stats();
    statsShown_ = stats.has_value();
    const QString text = stats ? statsLine(*stats, feed_->status(), shutterAsAngleSetting()) : QString();
    slow_ = statsLineIsSlow(feed_->status());
    if (text != statsText_) {
        statsText_ = text;
        updateGeometry();
    }
    fitWidth(room_);
    update();
}

void FeedStats::updateHealth() {
    const auto& status = feed_->status();
    if (status)
        health_->setValues(*status, status->mode == CaptureMode::video ? feed_->live().audioLevel() : std::nullopt,
                           takesCaptures_);
    fitWidth(room_);
    updateGeometry();
}

void FeedStats::fitWidth(int width) {
    const QFontMetricsF metrics(statsFont());
    const auto stats = statsShown_ ? std::optional<qreal>(metrics.horizontalAdvance(statsText_) + 2 * padX + 1)
                                   : std::optional<qreal>();
    health_->fitWidth(width - 2 * padX);
    const auto health = feed_->status() && !health_->items().empty()
                            ? std::optional<qreal>(health_->sizeHint().width() + 2 * padX)
                            : std::optional<qreal>();
    const FiguresFit fit = fitFigures(width, stats, health);
    const bool healthShown = health && fit.healthLine;
    const bool changed = width != room_ || fit != fit_ || healthShown == health_->isHidden();
    room_ = width;
    fit_ = fit;
    health_->setVisible(healthShown);
    place();
    if (!changed) return;
    updateGeometry();
    update();
}

void FeedStats::place() {
    const qreal top = padY + (statsLineFits() ? statsHeight() + lineSpacing : 0);
    health_->setGeometry(qRound(padX), qRound(top), health_->sizeHint().width(), health_->sizeHint().height());
}

void FeedStats::resizeEvent(QResizeEvent*) {
    place();
}

QSize FeedStats::sizeHint() const {
    const QFontMetricsF metrics(statsFont());
    qreal w = statsLineFits() ? std::min<qreal>(metrics.horizontalAdvance(statsText_), room_ - 2 * padX - 1) : 0;
    qreal h = statsLineFits() ? statsHeight() : 0;
    if (!health_->isHidden()) {
        w = std::max<qreal>(w, health_->sizeHint().width());
        h += (statsLineFits() ? lineSpacing : 0) + health_->sizeHint().height();
    }
    if (w <= 0 && h <= 0) return QSize(0, 0);
    return QSize(qCeil(w + 2 * padX) + 1, qCeil(h + 2 * padY));
}

void FeedStats::paintEvent(QPaintEvent*) {
    if (!statsLineFits() && health_->isHidden()) return;
    // Repainted with every frame of the picture beneath: drawn once per change, copied afterwards.
    const qreal ratio = devicePixelRatioF();
    const QSize pixels = (QSizeF(size()) * ratio).toSize();
    if (cache_.size() != pixels || cachedText_ != statsText_ || cachedSlow_ != slow_) {
        cache_ = QPixmap(pixels);
        cache_.setDevicePixelRatio(ratio);
        cache_.fill(Qt::transparent);
        QPainter p(&cache_);
        drawStats(p);
        cachedText_ = statsText_;
        cachedSlow_ = slow_;
    }
    QPainter(this).drawPixmap(0, 0, cache_);
}

void FeedStats::drawStats(QPainter& p) const {
    p.setRenderHint(QPainter::Antialiasing);
    fillRoundedRect(p, QRectF(rect()), backingRadius, black(backingOpacity));
    if (!statsLineFits()) return;
    p.setFont(statsFont());
    const QRectF line(padX, padY, width() - 2 * padX, statsHeight());
    const QString text = QFontMetricsF(statsFont()).elidedText(statsText_, Qt::ElideRight, line.width());
    p.setPen(black(0.2));
    for (const QPointF& d : haloOffsets())
        p.drawText(line.translated(d), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
    p.setPen(slow_ ? orange() : white(0.8));
    p.drawText(line, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
}

}  // namespace morvane
