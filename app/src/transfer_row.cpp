#include "app/transfer_row.h"

#include <QAbstractButton>
#include <QFontMetricsF>
#include <QPainter>

#include "app/camera_send.h"
#include "app/transfer_row_rules.h"
#include "camera_panels/status_texts.h"
#include "platform/symbols.h"
#include "platform/theme.h"
#include "remote/camera_feed.h"
#include "remote/monitor_controller.h"

namespace morvane {

using namespace theme;

namespace {

constexpr qreal padX = 12, padY = 4, spacing = transferRowSpacing, barWidth = transferBarWidth, maxWidth = 560;

QFont captionFont() {
    return theme::font(TextStyle::caption);
}
QFont boldCaption() {
    return theme::font(TextStyle::caption, QFont::DemiBold);
}

/// The capsule "Pause" / "Send" button.
class HoldButton : public QAbstractButton {
public:
    explicit HoldButton(QWidget* parent) : QAbstractButton(parent) {
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::NoFocus);
    }
    void setFace(const TransferButtonFace& face, bool paused) {
        face_ = face;
        paused_ = paused;
        setText(face.label);
        setAccessibleName(face.label);
        updateGeometry();
        update();
    }
    QSize sizeHint() const override {
        const QFontMetricsF m(boldCaption());
        const qreal icon = symbolPixelSize(pointSize(TextStyle::caption));
        return QSize(qCeil(8 + icon + 4 + m.horizontalAdvance(face_.label) + 8), qCeil(m.height() + 6));
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        if (!isEnabled()) p.setOpacity(0.4);
        fillCapsule(p, QRectF(rect()),
                    paused_ ? withOpacity(green(), isDown() ? 0.6 : 0.8) : white(isDown() ? 0.3 : 0.2));
        const qreal icon = symbolPixelSize(pointSize(TextStyle::caption));
        drawSymbol(p, QRectF(8, (height() - icon) / 2, icon, icon), face_.symbol.toStdString(), Qt::white, icon);
        p.setFont(boldCaption());
        p.setPen(Qt::white);
        p.drawText(QRectF(8 + icon + 4, 0, width(), height()), Qt::AlignLeft | Qt::AlignVCenter, face_.label);
    }

private:
    TransferButtonFace face_;
    bool paused_ = false;
};

}  // namespace

TransferRow::TransferRow(std::shared_ptr<MonitorController> controller, std::shared_ptr<CameraFeed> feed,
                         QWidget* parent)
    : QWidget(parent), controller_(std::move(controller)), feed_(std::move(feed)) {
    setAttribute(Qt::WA_TranslucentBackground);
    setMaximumWidth(static_cast<int>(maxWidth));
    hold_ = new HoldButton(this);
    std::weak_ptr<MonitorController> weak = controller_;
    std::weak_ptr<CameraFeed> weakFeed = feed_;
    connect(hold_, &QAbstractButton::clicked, this, [weak, weakFeed] {
        auto c = weak.lock();
        auto f = weakFeed.lock();
        if (!c || !f || !f->status()) return;
        // The row changes when the camera reports the new state, not before.
        sendToCamera(*c, f->id(), CameraCommand::SetTransfersPaused{!f->status()->transfersPaused});
    });
    connect(feed_.get(), &CameraFeed::statusChanged, this, &TransferRow::refresh);
    refresh();
}

QString TransferRow::summary() const {
    if (!feed_->status()) return {};
    return QString::fromStdString(transferRowFace(*feed_->status(), controller_->takesCaptures()).summary);
}

bool TransferRow::fileShown() const {
    return feed_->status() && transferFileShown(*feed_->status());
}

void TransferRow::refresh() {
    const auto& status = feed_->status();
    pending_ = transferRowShown(status);
    // Shown again inside its host when files are pending; never as a window of its own.
    if (!pending_)
        hide();
    else if (parentWidget())
        show();
    if (!pending_) return;
    static_cast<HoldButton*>(hold_)->setFace(transferButtonFace(status->transfersPaused), status->transfersPaused);
    hold_->setEnabled(!status->isRecording);
    hold_->setVisible(transferRowFace(*status, controller_->takesCaptures()).offersHold);
    updateGeometry();
    place();
    update();
}

void TransferRow::setVisible(bool visible) {
    QWidget::setVisible(visible && pending_);
}

QSize TransferRow::sizeHint() const {
    const QFontMetricsF caption(captionFont()), bold(boldCaption());
    qreal w = padX + holdRoom() + bold.horizontalAdvance(QString::fromStdString(feed_->name()));
    if (fileShown())
        w += spacing +
             std::min<qreal>(caption.horizontalAdvance(QString::fromStdString(*feed_->status()->transferName)),
                             transferFileMaxWidth) +
             spacing + barWidth;
    w += spacing + caption.horizontalAdvance(summary()) + padX;
    const qreal h = std::max<qreal>(hold_->sizeHint().height(), caption.height()) + 2 * padY;
    return QSize(qCeil(std::min(w, maxWidth)), qCeil(h));
}

QSize TransferRow::minimumSizeHint() const {
    return QSize(std::min(sizeHint().width(), 320), sizeHint().height());
}

void TransferRow::resizeEvent(QResizeEvent*) {
    place();
}

qreal TransferRow::holdRoom() const {
    return hold_->isHidden() ? 0 : hold_->sizeHint().width() + spacing;
}

void TransferRow::place() {
    const QSize button = hold_->sizeHint();
    hold_->setGeometry(qRound(padX), (height() - button.height()) / 2, button.width(), button.height());
}

TransferRowPieces TransferRow::pieces() const {
    const auto& status = feed_->status();
    TransferRowWidths widths;
    widths.name = QFontMetricsF(boldCaption()).horizontalAdvance(QString::fromStdString(feed_->name()));
    widths.summary = QFontMetricsF(monospacedDigits(captionFont())).horizontalAdvance(summary());
    widths.fileShown = status && transferFileShown(*status);
    if (widths.fileShown)
        widths.file = QFontMetricsF(captionFont()).horizontalAdvance(QString::fromStdString(*status->transferName));
    return transferRowPieces(padX + holdRoom(), width() - padX, height(), widths);
}

std::vector<QRect> TransferRow::pieceRects() const {
    std::vector<QRect> out;
    if (!hold_->isHidden()) out.push_back(hold_->geometry());
    const auto p = pieces();
    for (const QRectF& r : {p.name, p.file, p.bar, p.summary})
        if (!r.isEmpty()) out.push_back(r.toAlignedRect().adjusted(0, 0, -1, 0));
    return out;
}

void TransferRow::paintEvent(QPaintEvent*) {
    const auto& status = feed_->status();
    if (!status) return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    fillRoundedRect(p, QRectF(rect()), 10, black(0.55));
    const auto parts = pieces();
    const auto flags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine;
    if (!parts.name.isEmpty()) {
        p.setFont(boldCaption());
        p.setPen(Qt::white);
        p.drawText(parts.name, flags,
                   QFontMetricsF(boldCaption())
                       .elidedText(QString::fromStdString(feed_->name()), Qt::ElideRight, parts.name.width()));
    }
    if (!parts.file.isEmpty()) {
        p.setFont(captionFont());
        p.setPen(white(0.7));
        p.drawText(parts.file, flags,
                   QFontMetricsF(captionFont())
                       .elidedText(QString::fromStdString(*status->transferName), Qt::ElideMiddle, parts.file.width()));
    }
    if (!parts.bar.isEmpty()) {
        fillCapsule(p, parts.bar, white(0.2));
        const double progress =
            std::isfinite(*status->transferProgress) ? std::clamp(*status->transferProgress, 0.0, 1.0) : 0.0;
        fillCapsule(p, QRectF(parts.bar.topLeft(), QSizeF(parts.bar.width() * progress, parts.bar.height())), green());
    }
    if (!parts.summary.isEmpty()) {
        const QFont caption = monospacedDigits(captionFont());
        p.setFont(caption);
        p.setPen(Qt::white);
        p.drawText(parts.summary, Qt::AlignRight | Qt::AlignVCenter | Qt::TextSingleLine,
                   QFontMetricsF(caption).elidedText(summary(), Qt::ElideRight, parts.summary.width()));
    }
}

}  // namespace morvane
