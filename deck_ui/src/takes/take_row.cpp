#include "deck_ui/takes/take_row.h"

#include <QContextMenuEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QUrl>
#include <QVBoxLayout>

#include "../editor/editor_widgets.h"
#include "deck_ui/takes/takes_rules.h"
#include "platform/desktop_open.h"
#include "remote/monitor_controller.h"

namespace morvane {

using namespace editorui;

namespace {

// The title keeps one line and gives way to what stands on its right.
class ElidedTitle : public QLabel {
public:
    ElidedTitle(QString text, QWidget* parent) : QLabel(parent), full_(std::move(text)) {
        setFont(theme::font(theme::TextStyle::headline));
        theme::setTextColor(*this, theme::white());
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        setMinimumWidth(40);
        setAccessibleName(full_);
    }
    QSize sizeHint() const override { return {fontMetrics().horizontalAdvance(full_), fontMetrics().height()}; }

protected:
    void resizeEvent(QResizeEvent* event) override {
        setText(fontMetrics().elidedText(full_, Qt::ElideRight, width()));
        QLabel::resizeEvent(event);
    }

private:
    QString full_;
};

}  // namespace

TakeRow::TakeRow(RetouchTake take, std::shared_ptr<MonitorController> controller, RetouchLibrary& library,
                 QWidget* parent)
    : QWidget(parent), take_(std::move(take)), controller_(std::move(controller)), library_(library) {
    setObjectName(QStringLiteral("takeRow"));
    // A row keeps its height however many rows there are: the list scrolls instead.
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setFocusPolicy(Qt::StrongFocus);
    const bool link = takes::opensEditor(take_);
    if (link) setCursor(Qt::PointingHandCursor);
    setAccessibleName(QString::fromStdString(take_.defaultName()));

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(16, 10, 12, 10);
    column->setSpacing(4);

    auto* titleLine = new QHBoxLayout();
    titleLine->setSpacing(8);
    titleLine->addWidget(new ElidedTitle(QString::fromStdString(take_.defaultName()), this), 1);
    if (take_.exportedAt) {
        auto* mark = symbolButton("checkmark.circle.fill", tr("Exported"), theme::TextStyle::caption, {}, this);
        mark->setObjectName(QStringLiteral("exportedMark"));
        mark->setIcon(symbolIcon("checkmark.circle.fill", theme::green(),
                                 symbolPixelSize(theme::pointSize(theme::TextStyle::caption))));
        mark->setStyleSheet(
            QStringLiteral("QToolButton { border: none; padding: 0; color: %1; }").arg(theme::green().name()));
        mark->setAttribute(Qt::WA_TransparentForMouseEvents);
        titleLine->addWidget(mark);
    } else {
        auto* length = label(QString::fromStdString(takes::durationText(take_)), theme::TextStyle::subheadline,
                             theme::secondary(), this);
        length->setFont(theme::monospacedDigits(theme::font(theme::TextStyle::subheadline)));
        length->setObjectName(QStringLiteral("duration"));
        titleLine->addWidget(length);
    }
    if (link) {
        auto* chevron = new QLabel(this);
        chevron->setPixmap(symbolPixmap("chevron.right", theme::white(0.3),
                                        symbolPixelSize(theme::pointSize(theme::TextStyle::body)),
                                        devicePixelRatioF()));
        titleLine->addWidget(chevron);
    }
    column->addLayout(titleLine);

    if (!take_.exportedAt) {
        auto* cameras = label(QString::fromStdString(takes::camerasLine(take_)), theme::TextStyle::caption,
                              theme::secondary(), this);
        cameras->setObjectName(QStringLiteral("cameras"));
        auto* summary = label(QString::fromStdString(takes::switchSummary(take_, takes::localTimeOfDay)),
                              theme::TextStyle::caption, theme::secondary(), this);
        summary->setObjectName(QStringLiteral("summary"));
        column->addWidget(cameras);
        column->addWidget(summary);
        return;
    }

    auto* exportLine = new QHBoxLayout();
    exportLine->setSpacing(16);
    if (const auto program = library_.programURL(take_)) {
        auto* share = symbolButton(
            "play.fill", tr("Open"), theme::TextStyle::caption,
            [this, file = *program] {
                openWithDesktop(QUrl::fromLocalFile(QString::fromStdString(file.string())), this);
            },
            this);
        share->setObjectName(QStringLiteral("share"));
        exportLine->addWidget(share);
    }
    if (const auto ids = takes::collectAgainIDs(take_); !ids.empty()) {
        auto* again = symbolButton(
            "arrow.down.circle", tr("Collect again to re-edit"), theme::TextStyle::caption,
            [this, ids] {
                if (controller_) controller_->requestTakeAgain(ids);
            },
            this);
        again->setObjectName(QStringLiteral("collectAgain"));
        collectAgain_ = again;
        exportLine->addWidget(again);
        if (controller_) connect(controller_.get(), &MonitorController::feedsChanged, this, &TakeRow::refreshControls);
    }
    exportLine->addStretch();
    column->addLayout(exportLine);
    refreshControls();
}

void TakeRow::refreshControls() {
    if (collectAgain_) collectAgain_->setEnabled(controller_ && !controller_->feeds().empty());
}

void TakeRow::mousePressEvent(QMouseEvent* event) {
    // Taken here, so that the release comes back to the row.
    if (event->button() == Qt::LeftButton) {
        setFocus(Qt::MouseFocusReason);
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

void TakeRow::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) emit activated();
    QWidget::mouseReleaseEvent(event);
}

void TakeRow::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Delete:
        case Qt::Key_Backspace:
            emit deleteRequested();  // the desktop's swipe to delete: it asks first
            return;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            emit activated();
            return;
        default:
            QWidget::keyPressEvent(event);
    }
}

void TakeRow::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    const qreal size = symbolPixelSize(theme::pointSize(theme::TextStyle::body));
    menu.addAction(symbolIcon("pencil", theme::white(), size), tr("Rename"), this, &TakeRow::renameRequested);
    menu.addAction(symbolIcon("trash", theme::red(), size), tr("Delete\u2026"), this, &TakeRow::deleteRequested);
    menu.exec(event->globalPos());
}

void TakeRow::paintEvent(QPaintEvent*) {
    if (!hasFocus()) return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, true);
    theme::fillRoundedRect(p, QRectF(rect()).adjusted(4, 2, -4, -2), 8, theme::white(0.08));
}

}  // namespace morvane
