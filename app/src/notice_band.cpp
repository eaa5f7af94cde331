#include "app/notice_band.h"

#include <QCursor>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QToolTip>
#include <QVBoxLayout>

#include <algorithm>

#include "camera_panels/close_button.h"
#include "platform/theme.h"

namespace morvane {

namespace {

constexpr int paddingX = 14, paddingY = 8, cardSpacing = 6, closeGap = 8, cardRadius = 14;

QFont noticeFont() {
    return theme::font(theme::TextStyle::footnote, QFont::Medium);
}

// One notice on its card.
class NoticeCard : public QWidget {
public:
    NoticeCard(const NoticeBoard::Shown& notice, const std::function<void(const QString&)>& follow,
               std::function<void()> dismiss, QWidget* parent)
        : QWidget(parent) {
        setAttribute(Qt::WA_TranslucentBackground);
        setAccessibleName(QString::fromStdString(notice.text));
        auto* row = new QHBoxLayout(this);
        row->setContentsMargins(paddingX, paddingY, notice.stays ? paddingY : paddingX, paddingY);
        row->setSpacing(closeGap);
        text_ = new QLabel(noticeRichText(notice), this);
        text_->setObjectName(QStringLiteral("noticeText"));
        text_->setTextFormat(Qt::RichText);
        text_->setWordWrap(true);
        text_->setFont(noticeFont());
        text_->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
        QPalette palette = text_->palette();
        palette.setColor(QPalette::WindowText, theme::white());
        palette.setColor(QPalette::Link, theme::white());
        text_->setPalette(palette);
        QObject::connect(text_, &QLabel::linkActivated, this, follow);
        QObject::connect(text_, &QLabel::linkHovered, this, [](const QString& link) {
            if (!link.isEmpty()) QToolTip::showText(QCursor::pos(), QUrl(link).toLocalFile());
        });
        row->addWidget(text_, 1);
        if (notice.stays) {
            auto* close = new CloseButton(std::move(dismiss), this);
            close->setAccessibleName(QStringLiteral("Dismiss"));
            close->setToolTip(QStringLiteral("Dismiss"));
            row->addWidget(close, 0, Qt::AlignTop);
            closeWidth_ = close->sizeHint().width() + closeGap;
        }
    }

    // The width that puts the text on one line.
    int naturalWidth() const {
        const qreal line = QFontMetricsF(noticeFont()).horizontalAdvance(accessibleName());
        const auto margins = layout()->contentsMargins();
        return qCeil(line) + 1 + margins.left() + margins.right() + closeWidth_;
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        // Darker than a passing capsule: a notice of several lines is read over busy pictures.
        const QRectF card = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        const qreal radius = std::min<qreal>(cardRadius, height() / 2.0);
        theme::fillRoundedRect(painter, card, radius, theme::black(0.82));
        painter.setPen(QPen(theme::white(0.14), 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(card, radius, radius);
    }

private:
    QLabel* text_ = nullptr;
    int closeWidth_ = 0;
};

}  // namespace

QString noticeRichText(const NoticeBoard::Shown& notice) {
    const QString text = QString::fromStdString(notice.text);
    // Each folder where its name first stands, in the order they stand.
    struct Place {
        qsizetype at;
        qsizetype length;
        QString path;
    };
    std::vector<Place> places;
    for (const auto& folder : notice.folders) {
        const QString name = QString::fromStdString(folder.name);
        const qsizetype at = name.isEmpty() ? -1 : text.indexOf(name);
        if (at < 0) continue;
        const bool overlaps = std::any_of(places.begin(), places.end(), [&](const Place& p) {
            return at < p.at + p.length && p.at < at + name.size();
        });
        if (!overlaps) places.push_back({at, name.size(), QString::fromStdString(folder.path)});
    }
    std::sort(places.begin(), places.end(), [](const Place& a, const Place& b) { return a.at < b.at; });
    QString rich;
    qsizetype from = 0;
    for (const auto& place : places) {
        rich += text.mid(from, place.at - from).toHtmlEscaped();
        rich += QStringLiteral("<a href=\"%1\" style=\"color:white\">%2</a>")
                    .arg(QUrl::fromLocalFile(place.path).toString(QUrl::FullyEncoded).toHtmlEscaped(),
                         text.mid(place.at, place.length).toHtmlEscaped());
        from = place.at + place.length;
    }
    return rich + text.mid(from).toHtmlEscaped();
}

NoticeBand::NoticeBand(std::function<void(const QUrl&)> open, std::function<void(std::uint64_t)> dismiss,
                       QWidget* parent)
    : QWidget(parent), open_(std::move(open)), dismiss_(std::move(dismiss)) {
    setAttribute(Qt::WA_TranslucentBackground);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(cardSpacing);
    QSizePolicy policy(QSizePolicy::Maximum, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

void NoticeBand::setNotices(const std::vector<NoticeBoard::Shown>& notices) {
    if (notices == notices_) return;
    notices_ = notices;
    while (auto* item = layout()->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    cards_.clear();
    for (const auto& notice : notices_) {
        auto* card = new NoticeCard(
            notice, [this](const QString& link) { openFolder(link); },
            [this, id = notice.id] {
                // The card goes with the notice; the band is rebuilt after this click returns.
                if (dismiss_)
                    QMetaObject::invokeMethod(
                        this, [this, id] { dismiss_(id); }, Qt::QueuedConnection);
            },
            this);
        layout()->addWidget(card);
        cards_.push_back(card);
    }
    updateGeometry();
}

void NoticeBand::openFolder(const QString& link) {
    const QUrl url(link);
    const QString path = url.toLocalFile();
    // A folder that is not there (a drive unplugged) cannot open: its path is what there is to read.
    if (QFileInfo(path).isDir()) {
        if (open_) open_(url);
        return;
    }
    QToolTip::showText(QCursor::pos(), path + QStringLiteral(" isn't there"), this);
}

QSize NoticeBand::sizeHint() const {
    int width = 0;
    for (const auto& card : cards_)
        if (card)
            width =
                std::max(width, std::min(static_cast<NoticeCard*>(card.data())->naturalWidth(), maximumNoticeWidth));
    return {width, heightForWidth(width)};
}

QSize NoticeBand::minimumSizeHint() const {
    return {0, 0};
}

int NoticeBand::widthWithin(int room) const {
    const int limit = std::min(sizeHint().width(), room);
    const int height = heightForWidth(limit);
    int narrow = limit / 2, wide = limit;  // `wide` keeps the height
    while (wide - narrow > 4) {
        const int middle = (narrow + wide) / 2;
        (heightForWidth(middle) <= height ? wide : narrow) = middle;
    }
    return wide;
}

int NoticeBand::heightForWidth(int width) const {
    if (notices_.empty()) return 0;
    return layout()->totalHeightForWidth(width);
}

}  // namespace morvane
