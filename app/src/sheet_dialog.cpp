#include "app/sheet_dialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QResizeEvent>
#include <QVBoxLayout>

#include "platform/theme.h"

namespace morvane {

SheetDialog::SheetDialog(QWidget* presenter, QWidget* content, Options options, std::function<void()> onDismiss)
    : QDialog(presenter ? presenter->window() : nullptr), content_(content), onDismiss_(std::move(onDismiss)) {
    setWindowModality(Qt::WindowModal);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(options.title.isEmpty() ? QStringLiteral("Brindlecroft") : options.title);
    theme::setBackground(*this, options.background.isValid() ? options.background : theme::sheetBackground());

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(1, 1, 1, 1);
    column->setSpacing(0);
    if (!options.title.isEmpty() || options.doneButton) {
        auto* bar = new QWidget(this);
        bar->setFixedHeight(52);
        auto* row = new QHBoxLayout(bar);
        row->setContentsMargins(16, 0, 16, 0);
        auto* title = new QLabel(options.title, bar);
        title->setFont(theme::font(theme::TextStyle::headline));
        title->setAlignment(Qt::AlignCenter);
        title->setObjectName(QStringLiteral("sheetTitle"));
        // Balance the trailing button so the title stays centred.
        auto* leading = new QWidget(bar);
        row->addWidget(leading);
        row->addWidget(title, 1);
        if (options.doneButton) {
            done_ = new QPushButton(QStringLiteral("Done"), bar);
            done_->setFlat(true);
            done_->setCursor(Qt::PointingHandCursor);
            done_->setFont(theme::font(theme::TextStyle::body, QFont::DemiBold));
            done_->setStyleSheet(
                QStringLiteral("QPushButton { color: %1; border: none; padding: 6px 4px; }").arg(theme::blue().name()));
            connect(done_, &QPushButton::clicked, this, &QDialog::accept);
            row->addWidget(done_);
            leading->setFixedWidth(done_->sizeHint().width());
        }
        column->addWidget(bar);
    }
    if (content_) {
        content_->setParent(this);
        column->addWidget(content_, 1);
    }
    wanted_ = options.size;
    dim_ = new QWidget(this);
    dim_->setObjectName(QStringLiteral("sheetDim"));
    theme::setBackground(*dim_, QColor(0, 0, 0, 150));
    dim_->hide();
    fitToWindow();
    if (parentWidget()) parentWidget()->installEventFilter(this);
    connect(this, &QDialog::finished, this, [this] {
        handBackAlerts();
        if (auto dismiss = std::exchange(onDismiss_, nullptr)) dismiss();
    });
}

void SheetDialog::fitToWindow() {
    QWidget* window = parentWidget();
    if (!window) {
        resize(wanted_);
        return;
    }
    resize(wanted_.boundedTo(window->size() - QSize(40, 40)).expandedTo(QSize(320, 240)));
    // Centred on the window's own area, as the window system first placed it.
    move(window->mapToGlobal(window->rect().center()) - QPoint(width() / 2, height() / 2));
}

bool SheetDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched == parentWidget() && (event->type() == QEvent::Resize || event->type() == QEvent::Move)) fitToWindow();
    return QDialog::eventFilter(watched, event);
}

void SheetDialog::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    dim_->setGeometry(rect());
}

void SheetDialog::setDimmed(bool dimmed) {
    dim_->setGeometry(rect());
    dim_->setVisible(dimmed);
    if (dimmed) dim_->raise();
}

bool SheetDialog::dimmed() const {
    return !dim_->isHidden();
}

void SheetDialog::handBackAlerts() {
    QWidget* window = parentWidget();
    if (!window) return;
    for (auto* alert : findChildren<QDialog*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (!alert->isVisible()) continue;
        alert->setParent(window, alert->windowFlags());
        alert->open();
    }
}

void SheetDialog::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    // A hairline edge keeps a dark sheet apart from the dark window behind it.
    QPainter painter(this);
    painter.setPen(QColor(72, 72, 74));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

SheetDialog* SheetDialog::present(QWidget* presenter, QWidget* content, Options options,
                                  std::function<void()> onDismiss) {
    auto* sheet = new SheetDialog(presenter, content, std::move(options), std::move(onDismiss));
    sheet->open();
    // The sheet takes the keyboard at once, so that Esc closes it without a click into it first.
    sheet->activateWindow();
    return sheet;
}

}  // namespace morvane
