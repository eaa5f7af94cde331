#include "camera_panels/large_sheet.h"

#include <QEvent>
#include <QKeyEvent>
#include <QShortcut>
#include <QVBoxLayout>

#include "platform/theme.h"

namespace morvane {

namespace {

/// The cover: opaque black under whatever the content leaves unpainted, so the screen behind never shows.
class SheetCover : public QWidget {
public:
    explicit SheetCover(QWidget* parent) : QWidget(parent) {
        theme::setBackground(*this, Qt::black);
        setObjectName(QStringLiteral("largeSheetCover"));
    }
};

}  // namespace

LargeSheet::LargeSheet(QWidget* presenter, Builder sheet)
    : QObject(presenter), presenter_(presenter), sheet_(std::move(sheet)) {}

LargeSheet::~LargeSheet() {
    if (window_) window_->removeEventFilter(this);
    delete cover_.data();
}

void LargeSheet::setPresented(bool presented) {
    if (presented == presented_) return;
    presented_ = presented;
    if (presented_) {
        open();
    } else {
        close();
    }
    emit presentedChanged(presented_);
}

void LargeSheet::open() {
    if (!presenter_) return;
    window_ = presenter_->window();
    auto* cover = new SheetCover(window_);
    cover_ = cover;
    auto* layout = new QVBoxLayout(cover);
    layout->setContentsMargins(0, 0, 0, 0);
    if (sheet_) {
        content_ = sheet_();
        if (content_) layout->addWidget(content_);
    }
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), cover);
    escape->setContext(Qt::WidgetWithChildrenShortcut);
    connect(escape, &QShortcut::activated, this, [this] { setPresented(false); });
    window_->installEventFilter(this);
    fitToWindow();
    cover->show();
    cover->raise();
    cover->setFocus(Qt::OtherFocusReason);
}

void LargeSheet::close() {
    if (window_) window_->removeEventFilter(this);
    // Later, so that a close requested from inside the content does not delete the caller under itself.
    if (cover_) {
        cover_->hide();
        cover_->deleteLater();
    }
    cover_ = nullptr;
    content_ = nullptr;
}

void LargeSheet::fitToWindow() {
    if (!cover_ || !window_) return;
    cover_->setGeometry(window_->rect());
}

bool LargeSheet::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window_ && event->type() == QEvent::Resize) fitToWindow();
    return QObject::eventFilter(watched, event);
}

}  // namespace morvane
