#include "camera_panels/gallery_page.h"

#include <QCoreApplication>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QThreadPool>
#include <QUrl>

#include "camera_panels/activity_indicator.h"
#include "camera_panels/gallery_rules.h"
#include "platform/desktop_open.h"
#include "platform/symbols.h"
#include "platform/theme.h"

namespace morvane {

namespace {

// A soft blur: the picture shrunk to an eighth and drawn back up smoothly.
QImage blurredCopy(const QImage& image) {
    if (image.isNull()) return {};
    const QSize small = (image.size() / 8).expandedTo(QSize(1, 1));
    return image.scaled(small, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
        .scaled(image.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

}  // namespace

GalleryPage::GalleryPage(GalleryItem item, GalleryPreviewLoader loader,
                         std::optional<std::filesystem::path> originalURL, QWidget* parent)
    : QWidget(parent), item_(std::move(item)), loader_(std::move(loader)), originalURL_(std::move(originalURL)) {
    if (!item_.thumbnail.empty() && item_.thumbnail.size() < (8u << 20)) {
        thumbnail_.loadFromData(item_.thumbnail.data(), static_cast<int>(item_.thumbnail.size()));
    }
    blurred_ = blurredCopy(thumbnail_);
    spinner_ = new ActivityIndicator(this, Qt::white, 28);
    spinner_->setVisible(!playsLocally());
    if (playsLocally()) {
        auto* play = new QPushButton(this);
        play->setIcon(symbolIcon("play.fill", Qt::white, 34));
        play->setIconSize(QSize(34, 34));
        play->setFixedSize(72, 72);
        play->setCursor(Qt::PointingHandCursor);
        play->setAccessibleName(QStringLiteral("Play"));
        play->setStyleSheet(QStringLiteral("QPushButton { background: rgba(0,0,0,120); border-radius: 36px; }"));
        connect(play, &QPushButton::clicked, this, [this, url = *originalURL_] {
            openWithDesktop(QUrl::fromLocalFile(QString::fromStdString(url.string())), this);
        });
        play_ = play;
    }
    setAttribute(Qt::WA_OpaquePaintEvent);
}

bool GalleryPage::spinnerVisible() const {
    return spinner_ && spinner_->isVisible();
}

void GalleryPage::setPreview(const QImage& image) {
    preview_ = image;
    failed_ = preview_.isNull();
    spinner_->setVisible(false);
    update();
}

void GalleryPage::load() {
    if (playsLocally()) return;  // the player shows the file; nothing to load
    ++loads_;
    QPointer<GalleryPage> self(this);
    if (originalURL_) {
        // A photo stored here: read off the main thread, then back.
        const QString path = QString::fromStdString(originalURL_->string());
        QThreadPool::globalInstance()->start([self, path] {
            QImage image(path);
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [self, image] {
                    if (!self) return;
                    if (!image.isNull()) {
                        self->setPreview(image);
                    } else if (self->loader_) {
                        self->loader_(self->item_.id, [self](const QImage& loaded) {
                            if (self) self->setPreview(loaded);
                        });
                    }
                },
                Qt::QueuedConnection);
        });
        return;
    }
    if (!preview_.isNull()) {
        failed_ = false;
        return;  // kept from an earlier load
    }
    spinner_->setVisible(!failed_);
    if (!loader_) return;
    loader_(item_.id, [self](const QImage& loaded) {
        // A page that went away meanwhile drops the answer; a live one keeps it.
        if (self) self->setPreview(loaded);
    });
}

void GalleryPage::resizeEvent(QResizeEvent*) {
    spinner_->move(width() / 2 - spinner_->width() / 2, height() / 2 - spinner_->height() / 2);
    if (play_) play_->move(width() / 2 - play_->width() / 2, height() / 2 - play_->height() / 2);
}

void GalleryPage::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.fillRect(rect(), Qt::black);
    const QImage& shown = !preview_.isNull() ? preview_ : (playsLocally() ? thumbnail_ : blurred_);
    if (!shown.isNull()) {
        const QSizeF fitted = QSizeF(shown.size()).scaled(QSizeF(width(), height()), Qt::KeepAspectRatio);
        p.drawImage(QRectF(QPointF((width() - fitted.width()) / 2, (height() - fitted.height()) / 2), fitted), shown);
    }
    if (item_.isVideo && !playsLocally()) {
        const QString caption = gallery::videoCaption(item_.duration);
        const QFont font = theme::font(theme::TextStyle::footnote);
        const QFontMetricsF metrics(font);
        const qreal glyph = symbolPixelSize(theme::pointSize(theme::TextStyle::footnote));
        const qreal textWidth = std::min(metrics.horizontalAdvance(caption), width() - 2 * 16 - 2 * 10 - glyph - 6.0);
        const QRectF capsule((width() - (textWidth + glyph + 6 + 20)) / 2, height() - 16 - metrics.height() - 20,
                             textWidth + glyph + 6 + 20, metrics.height() + 20);
        theme::fillCapsule(p, capsule, theme::ultraThinMaterial());
        drawSymbol(p, QRectF(capsule.left() + 10, capsule.top(), glyph, capsule.height()), "video.fill", Qt::white,
                   glyph);
        p.setFont(font);
        p.setPen(Qt::white);
        p.drawText(QRectF(capsule.left() + 10 + glyph + 6, capsule.top(), textWidth, capsule.height()),
                   Qt::AlignVCenter | Qt::AlignLeft, metrics.elidedText(caption, Qt::ElideRight, textWidth));
    }
}

}  // namespace morvane
