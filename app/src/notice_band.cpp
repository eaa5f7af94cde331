#include "app/notice_band.h"

#include <QCursor>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QToolTip>
#include <QVBoxLayout>

#include <algorithm>

#include "camera_panels/close_button.h"
#include "platform/theme.h"

namespace morvane {

namespace {

constexpr int paddingX = 14, paddingY = 8, cardSpacing = 6, closeGap = 8, cardRadius = 14;
constexpr int listPadding = 12, noticeListGap = 6;

QFont noticeFont() {
    return theme::font(theme::TextStyle::footnote, QFont::Medium);
}

// A notice cut to one line where it has room for no more; pointing at it shows it whole.
class NoticeLine : public QLabel {
public:
    NoticeLine(const QString& text, QWidget* parent) : QLabel(parent), whole_(text) {
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        setToolTip(text);
    }
    QSize sizeHint() const override { return {fontMetrics().horizontalAdvance(whole_), fontMetrics().height()}; }
    QSize minimumSizeHint() const override { return {0, fontMetrics().height()}; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setPen(palette().color(QPalette::WindowText));
        painter.setFont(font());
        painter.drawText(rect(), Qt::AlignVCenter | Qt::AlignLeft,
                         fontMetrics().elidedText(whole_, Qt::ElideRight, width()));
    }

private:
    QString whole_;
};

// One notice on its card; one that stays has a close button, and the card may carry more buttons before it. On
// one line it is cut to the width it has.
class NoticeCard : public QWidget {
public:
    NoticeCard(const QString& richText, const QString& plainText, const std::function<void(const QString&)>& follow,
               std::function<void()> dismiss, QWidget* parent, const std::vector<QWidget*>& buttons = {},
               Qt::Alignment buttonsAlignment = Qt::AlignTop, bool oneLine = false)
        : QWidget(parent) {
        setAttribute(Qt::WA_TranslucentBackground);
        setAccessibleName(plainText);
        auto* row = new QHBoxLayout(this);
        const bool closes = static_cast<bool>(dismiss);
        row->setContentsMargins(paddingX, paddingY, closes || !buttons.empty() ? paddingY : paddingX, paddingY);
        row->setSpacing(closeGap);
        text_ = oneLine ? new NoticeLine(plainText, this) : new QLabel(richText, this);
        text_->setObjectName(oneLine ? QStringLiteral("noticeLine") : QStringLiteral("noticeText"));
        text_->setTextFormat(Qt::RichText);
        text_->setWordWrap(!oneLine);
        text_->setFont(noticeFont());
        text_->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
        QPalette palette = text_->palette();
        palette.setColor(QPalette::WindowText, theme::white());
        palette.setColor(QPalette::Link, theme::white());
        text_->setPalette(palette);
        if (follow) QObject::connect(text_, &QLabel::linkActivated, this, follow);
        QObject::connect(text_, &QLabel::linkHovered, this, [](const QString& link) {
            if (!link.isEmpty()) QToolTip::showText(QCursor::pos(), QUrl(link).toLocalFile());
        });
        row->addWidget(text_, 1, buttonsAlignment == Qt::AlignBottom ? Qt::AlignVCenter : Qt::Alignment());
        for (QWidget* button : buttons) {
            button->setParent(this);
            row->addWidget(button, 0, buttonsAlignment);
            closeWidth_ += button->sizeHint().width() + closeGap;
        }
        if (closes) {
            auto* close = new CloseButton(std::move(dismiss), this);
            close->setAccessibleName(QStringLiteral("Dismiss"));
            close->setToolTip(QStringLiteral("Dismiss"));
            row->addWidget(close, 0, buttonsAlignment);
            closeWidth_ += close->sizeHint().width() + closeGap;
        }
    }
    NoticeCard(const NoticeBoard::Shown& notice, const std::function<void(const QString&)>& follow,
               std::function<void()> dismiss, QWidget* parent)
        : NoticeCard(noticeRichText(notice), QString::fromStdString(notice.text), follow,
                     notice.stays ? std::move(dismiss) : std::function<void()>(), parent) {}

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

// A button on a notice: a small light capsule that reads as part of the card.
QPushButton* noticeButton(const QString& text, std::function<void()> action) {
    auto* button = new QPushButton(text);
    button->setFont(noticeFont());
    button->setCursor(Qt::PointingHandCursor);
    button->setFocusPolicy(Qt::TabFocus);
    button->setStyleSheet(
        QStringLiteral("QPushButton { color: white; background: rgba(255,255,255,40); border: none;"
                       " border-radius: 11px; padding: 3px 10px; min-height: 16px; }"
                       "QPushButton:hover { background: rgba(255,255,255,70); }"
                       "QPushButton:pressed { background: rgba(255,255,255,30); }"));
    QObject::connect(button, &QPushButton::clicked, button, [action = std::move(action)] {
        if (action) action();
    });
    return button;
}

// A click on a folder a notice names: it opens, or, where it is not there (a drive unplugged), its whole path is
// what there is to read.
void followFolder(const QString& link, const std::function<void(const QUrl&)>& open, QWidget* near) {
    const QUrl url(link);
    const QString path = url.toLocalFile();
    if (QFileInfo(path).isDir()) {
        if (open) open(url);
        return;
    }
    QToolTip::showText(QCursor::pos(), path + QStringLiteral(" isn't there"), near);
}

QString countText(std::size_t count) {
    return count == 1 ? QStringLiteral("1 notice") : QStringLiteral("%1 notices").arg(count);
}

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
    followFolder(link, open_, this);
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

StayingNotices::StayingNotices(std::function<void(const QUrl&)> open, std::function<void(std::uint64_t)> dismiss,
                               QWidget* parent)
    : QWidget(parent), open_(std::move(open)), dismiss_(std::move(dismiss)) {
    setAttribute(Qt::WA_TranslucentBackground);
}

StayingNotices::~StayingNotices() {
    delete list_.data();
}

void StayingNotices::setNotices(const std::vector<NoticeBoard::Shown>& notices) {
    if (notices == notices_) return;
    notices_ = notices;
    rebuild();
    refreshList();
}

void StayingNotices::setPart(NoticePlan::Staying part) {
    if (part == part_) return;
    part_ = part;
    showPart();
}

void StayingNotices::showPart() {
    using S = NoticePlan::Staying;
    if (card_) card_->setVisible(part_ == S::card);
    if (bar_) bar_->setVisible(part_ == S::bar);
    if (count_) count_->setVisible(part_ == S::count);
}

void StayingNotices::rebuild() {
    delete card_.data();
    delete bar_.data();
    delete count_.data();
    if (notices_.empty()) return;
    const auto follow = [this](const QString& link) { followFolder(link, open_, this); };
    const auto& newest = notices_.back();
    const std::size_t others = notices_.size() - 1;
    auto buttons = [&](const QString& alone) {
        std::vector<QWidget*> out;
        if (notices_.size() < 2) {
            if (alone.isEmpty()) return out;
            auto* show = noticeButton(alone, [this] { openList(); });
            show->setObjectName(QStringLiteral("moreNotices"));
            return std::vector<QWidget*>{show};
        }
        auto* list = noticeButton(QStringLiteral("%1 more").arg(others), [this] { openList(); });
        list->setObjectName(QStringLiteral("moreNotices"));
        auto* all = noticeButton(QStringLiteral("Dismiss all"), [this] { dismissAll(); });
        all->setObjectName(QStringLiteral("dismissAllNotices"));
        return std::vector<QWidget*>{list, all};
    };
    card_ = new NoticeCard(
        noticeRichText(newest), QString::fromStdString(newest.text), follow,
        [this, id = newest.id] { dismissLater({id}); }, this, buttons({}), Qt::AlignBottom);
    // The bar is the card cut to one line: its buttons stand where the card's stood, so that after a notice is read
    // the next one's close button, never another button, is where the pointer is. Cut, it is read whole in the list.
    bar_ = new NoticeCard(
        {}, QString::fromStdString(newest.text), {}, [this, id = newest.id] { dismissLater({id}); }, this,
        buttons(QStringLiteral("Show")), Qt::AlignBottom, true);
    bar_->setObjectName(QStringLiteral("noticeBar"));
    auto* count = noticeButton(countText(notices_.size()), [this] { openList(); });
    count->setParent(this);
    count->setObjectName(QStringLiteral("noticeCount"));
    count->setToolTip(QString::fromStdString(newest.text));
    // On its own over the pictures it needs the card's dark ground to read.
    count->setStyleSheet(
        QStringLiteral("QPushButton { color: white; background: rgba(0,0,0,210); border: 1px solid rgba(255,255,255,"
                       "60); border-radius: 13px; padding: 4px 12px; min-height: 16px; }"
                       "QPushButton:hover { background: rgba(40,40,40,230); }"
                       "QPushButton:pressed { background: rgba(0,0,0,160); }"));
    count_ = count;
    for (QWidget* part : {card_.data(), bar_.data(), count_.data()}) part->setGeometry(rect());
    showPart();
}

int StayingNotices::cardHeight(int width) const {
    return card_ ? card_->layout()->totalHeightForWidth(width) : 0;
}

int StayingNotices::barHeight() const {
    return bar_ ? bar_->layout()->totalSizeHint().height() : 0;
}

QSize StayingNotices::countSize() const {
    return count_ ? count_->sizeHint() : QSize();
}

QWidget* StayingNotices::shown() const {
    switch (part_) {
        case NoticePlan::Staying::card:
            return card_.data();
        case NoticePlan::Staying::bar:
            return bar_.data();
        case NoticePlan::Staying::count:
            return count_.data();
        case NoticePlan::Staying::none:
            break;
    }
    return nullptr;
}

QPushButton* StayingNotices::moreButton() const {
    if (part_ == NoticePlan::Staying::count) return qobject_cast<QPushButton*>(count_.data());
    QWidget* part = shown();
    return part ? part->findChild<QPushButton*>(QStringLiteral("moreNotices")) : nullptr;
}

QPushButton* StayingNotices::dismissAllButton() const {
    QWidget* part = shown();
    return part ? part->findChild<QPushButton*>(QStringLiteral("dismissAllNotices")) : nullptr;
}

QWidget* StayingNotices::list() const {
    return list_ && list_->isVisible() ? list_.data() : nullptr;
}

void StayingNotices::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    for (QWidget* part : {card_.data(), bar_.data(), count_.data()})
        if (part) part->setGeometry(rect());
}

void StayingNotices::dismissLater(std::vector<std::uint64_t> ids) {
    // The card goes with the notice; it is built again after this click returns.
    if (!dismiss_) return;
    QMetaObject::invokeMethod(
        this,
        [this, ids = std::move(ids)] {
            for (std::uint64_t id : ids) dismiss_(id);
        },
        Qt::QueuedConnection);
}

void StayingNotices::dismissAll() {
    std::vector<std::uint64_t> ids;
    for (const auto& notice : notices_) ids.push_back(notice.id);
    dismissLater(std::move(ids));
    if (list_) list_->close();
}

void StayingNotices::openList() {
    if (notices_.empty()) return;
    if (!list_) {
        auto* frame = new QFrame(this, Qt::Popup);
        frame->setObjectName(QStringLiteral("noticeList"));
        frame->setAttribute(Qt::WA_DeleteOnClose);
        frame->setStyleSheet(QStringLiteral("QFrame#noticeList { background: #1c1c1e; border: 1px solid #48484a; }"));
        auto* column = new QVBoxLayout(frame);
        column->setContentsMargins(listPadding, listPadding, listPadding, listPadding);
        column->setSpacing(cardSpacing);
        auto* head = new QHBoxLayout;
        auto* title = new QLabel(QStringLiteral("Notices"), frame);
        title->setFont(theme::font(theme::TextStyle::headline));
        QPalette palette = title->palette();
        palette.setColor(QPalette::WindowText, theme::white());
        title->setPalette(palette);
        head->addWidget(title, 1);
        auto* all = noticeButton(QStringLiteral("Dismiss all"), [this] { dismissAll(); });
        all->setObjectName(QStringLiteral("dismissAllNotices"));
        all->setParent(frame);
        head->addWidget(all);
        column->addLayout(head);
        auto* scroll = new QScrollArea(frame);
        scroll->setObjectName(QStringLiteral("noticeScroll"));
        scroll->setWidgetResizable(true);
        scroll->setFrameShape(QFrame::NoFrame);
        scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        scroll->setStyleSheet(
            QStringLiteral("QScrollArea, QScrollArea > QWidget > QWidget { background: transparent; }"));
        column->addWidget(scroll, 1);
        list_ = frame;
        refreshList();
        // Its top stays where it opens; as notices are read it shortens from the bottom, so that the next close
        // button comes under the pointer. It opens above what opened it, or below it where it stands high (the
        // count in the top bar).
        const QWidget* top = window();
        const QRect inWindow(mapTo(top, QPoint(0, 0)), size());
        const int wanted = listHeight();
        const int below = inWindow.bottom() + 1 + noticeListGap;
        const int roomAbove = inWindow.top() - noticeListGap - listPadding;
        const int roomBelow = top->height() - listPadding - below;
        const bool opensBelow = roomAbove < wanted && roomBelow > roomAbove;
        const int height = std::min(wanted, std::max(0, opensBelow ? roomBelow : roomAbove));
        const int y = opensBelow ? below : inWindow.top() - noticeListGap - height;
        const int width = listWidth();
        const int x = std::clamp(inWindow.center().x() - width / 2, listPadding,
                                 std::max(listPadding, top->width() - listPadding - width));
        frame->setGeometry(QRect(top->mapToGlobal(QPoint(x, y)), QSize(width, height)));
    }
    list_->show();
}

int StayingNotices::listWidth() const {
    // As wide as the card or the bar; from the count, as wide as a card in that window.
    if (part_ != NoticePlan::Staying::count) return width();
    return std::min(NoticeBand::maximumNoticeWidth, std::max(0, window()->width() - 2 * listPadding));
}

int StayingNotices::listHeight() const {
    auto* scroll = list_->findChild<QScrollArea*>(QStringLiteral("noticeScroll"));
    auto* head = list_->layout()->itemAt(0);
    // Inside its border of a point each side.
    const int inside = listWidth() - 2 * listPadding - 2;
    const int cards = scroll && scroll->widget() ? scroll->widget()->layout()->totalHeightForWidth(inside) : 0;
    return 2 * listPadding + 2 + head->sizeHint().height() + cardSpacing + cards;
}

void StayingNotices::refreshList() {
    if (!list_) return;
    if (notices_.empty()) {
        list_->close();
        return;
    }
    auto* scroll = list_->findChild<QScrollArea*>(QStringLiteral("noticeScroll"));
    auto* cards = new QWidget;
    auto* column = new QVBoxLayout(cards);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(cardSpacing);
    const auto follow = [this](const QString& link) { followFolder(link, open_, list_); };
    for (auto it = notices_.rbegin(); it != notices_.rend(); ++it)
        column->addWidget(new NoticeCard(
            *it, follow, [this, id = it->id] { dismissLater({id}); }, cards));
    column->addStretch(1);
    delete scroll->takeWidget();
    scroll->setWidget(cards);
    if (list_->isVisible()) {
        // Shorter with fewer notices, from the bottom; never taller than when it opened.
        list_->layout()->activate();
        const int height = std::min(list_->height(), listHeight());
        list_->resize(list_->width(), height);
    }
}

}  // namespace morvane
