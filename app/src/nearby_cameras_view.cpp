#include "app/nearby_cameras_view.h"

#include <QCursor>
#include <QFontMetricsF>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimerEvent>
#include <QVBoxLayout>

#include <algorithm>
#include <functional>
#include <utility>

#include "camera_panels/app_logo.h"
#include "platform/symbols.h"
#include "platform/theme.h"
#include "remote/monitor_controller.h"

namespace morvane {

namespace {

constexpr int rowPadding = 14;
constexpr qreal rowRadius = 12;
constexpr int columnSpacing = 14;
constexpr int viewPadding = 20;
constexpr int logoSize = 88;

QString prominentStyle() {
    return QStringLiteral(
               "QPushButton { color: white; background: %1; border: none; border-radius: 8px; padding: 6px 14px; }"
               "QPushButton:hover { background: %2; } QPushButton:pressed { background: %3; }")
        .arg(theme::blue().name(), theme::blue().lighter(115).name(), theme::blue().darker(120).name());
}

QString destructiveBorderedStyle() {
    return QStringLiteral(
               "QPushButton { color: %1; background: rgba(255,255,255,36); border: none; border-radius: 8px; "
               "padding: 6px 14px; }"
               "QPushButton:hover { background: rgba(255,255,255,56); } QPushButton:pressed { background: "
               "rgba(255,255,255,24); }")
        .arg(theme::red().name());
}

}  // namespace

NearbyRowFace nearbyRowFace(const CameraLink::NearbyCamera& camera) {
    using L = NearbyRowFace::Label;
    using C = NearbyRowFace::Control;
    if (camera.isThisDevice) return {L::thisDevice, C::none};
    if (camera.isConnected) return {L::connected, C::disconnect};
    if (camera.isConnecting) return {camera.isPaired ? L::paired : L::none, C::spinner};
    if (camera.isPaired) return {L::paired, C::connect};
    return {L::none, C::pair};
}

std::optional<ScrollAnchor> scrollAnchor(const std::vector<NearbyRowPlace>& rows, int scrolled,
                                         std::optional<int> pointer) {
    const NearbyRowPlace* anchor = nullptr;
    if (pointer)
        for (const auto& row : rows)
            if (row.stays && row.top <= *pointer && *pointer < row.top + row.height) anchor = &row;
    if (!anchor)
        for (const auto& row : rows)
            if (row.stays && row.top + row.height > scrolled) {
                anchor = &row;
                break;
            }
    if (!anchor) return std::nullopt;
    return ScrollAnchor{anchor->id, anchor->top - scrolled};
}

bool showsWaitingText(const std::vector<CameraLink::NearbyCamera>& cameras) {
    return std::all_of(cameras.begin(), cameras.end(), [](const auto& c) { return c.isThisDevice; });
}

QString connectedCountLine(std::size_t connected, int cameraLimit) {
    if (cameraLimit < 2) return {};
    return QStringLiteral("%1 of %2 connected").arg(connected).arg(cameraLimit);
}

QString nearbyWaitingText() {
    return QStringLiteral("On the other computer, start brindlecroft-camera.");
}

// MARK: ActivitySpinner

ActivitySpinner::ActivitySpinner(int side, QWidget* parent) : QWidget(parent) {
    setFixedSize(side, side);
    setAttribute(Qt::WA_TranslucentBackground);
}

void ActivitySpinner::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    const QRectF r = QRectF(rect()).adjusted(2, 2, -2, -2);
    painter.setPen(QPen(theme::white(0.2), 2.5));
    painter.drawEllipse(r);
    painter.setPen(QPen(theme::white(), 2.5, Qt::SolidLine, Qt::RoundCap));
    painter.drawArc(r, -angle_ * 16, 100 * 16);
}

void ActivitySpinner::showEvent(QShowEvent*) {
    if (!timer_) timer_ = startTimer(33);
}

void ActivitySpinner::hideEvent(QHideEvent*) {
    if (timer_) killTimer(timer_);
    timer_ = 0;
}

void ActivitySpinner::timerEvent(QTimerEvent* event) {
    if (event->timerId() != timer_) return;
    angle_ = (angle_ + 12) % 360;
    update();
}

// MARK: SymbolLabel

SymbolLabel::SymbolLabel(std::string systemImage, QString text, QColor color, QFont font, QWidget* parent)
    : QWidget(parent),
      systemImage_(std::move(systemImage)),
      text_(std::move(text)),
      color_(std::move(color)),
      font_(std::move(font)) {
    setAccessibleName(text_);
    setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
}

QSize SymbolLabel::sizeHint() const {
    const QFontMetricsF m(font_);
    const qreal icon = symbolPixelSize(font_.pixelSize());
    return {qCeil(icon + 4 + m.horizontalAdvance(text_)), qCeil(std::max(icon, m.height()))};
}

void SymbolLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const qreal icon = symbolPixelSize(font_.pixelSize());
    drawSymbol(painter, QRectF(0, (height() - icon) / 2, icon, icon), systemImage_, color_, icon);
    painter.setFont(font_);
    painter.setPen(color_);
    painter.drawText(QRectF(icon + 4, 0, width() - icon - 4, height()), Qt::AlignVCenter | Qt::AlignLeft, text_);
}

// MARK: NearbyCameraRow

namespace {

/// A camera's name on one line, cut with an ellipsis where the row leaves too little room beside its button.
class CameraNameLabel : public QLabel {
public:
    using QLabel::QLabel;
    QSize minimumSizeHint() const override { return {0, QLabel::minimumSizeHint().height()}; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setFont(font());
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter,
                         fontMetrics().elidedText(text(), Qt::ElideRight, width()));
    }
};

bool isButton(NearbyRowFace::Control control) {
    using C = NearbyRowFace::Control;
    return control == C::disconnect || control == C::connect || control == C::pair;
}

}  // namespace

NearbyCameraRow::NearbyCameraRow(std::shared_ptr<MonitorController> controller, CameraLink::NearbyCamera camera,
                                 QWidget* parent)
    : QWidget(parent), controller_(controller), camera_(std::move(camera)) {
    setAttribute(Qt::WA_TranslucentBackground);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(rowPadding, rowPadding, rowPadding, rowPadding);
    column_ = new QVBoxLayout;
    column_->setSpacing(2);
    name_ = new CameraNameLabel(QString::fromStdString(camera_.name), this);
    name_->setFont(theme::font(theme::TextStyle::body, QFont::DemiBold));
    name_->setObjectName(QStringLiteral("cameraName"));
    column_->addWidget(name_);
    row->addLayout(column_, 1);

    // The control is the spinner or the button, which says and does what the camera's state calls for.
    spinner_ = new ActivitySpinner(20, this);
    row->addWidget(spinner_);
    button_ = new QPushButton(this);
    button_->setFont(theme::font(theme::TextStyle::subheadline, QFont::DemiBold));
    button_->setCursor(Qt::PointingHandCursor);
    // The button keeps its own width; a long name gives way to it.
    button_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    connect(button_, &QPushButton::clicked, this, &NearbyCameraRow::act);
    row->addWidget(button_);
    // A row never gets less than its own height: names and buttons squeezed flat can be neither read nor hit.
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    showFace(std::nullopt);
}

QPushButton* NearbyCameraRow::button() const {
    return isButton(face().control) ? button_ : nullptr;
}

void NearbyCameraRow::setCamera(CameraLink::NearbyCamera camera) {
    if (camera == camera_) return;
    const NearbyRowFace was = face();
    if (camera.name != camera_.name) name_->setText(QString::fromStdString(camera.name));
    camera_ = std::move(camera);
    showFace(was);
}

void NearbyCameraRow::showFace(std::optional<NearbyRowFace> was) {
    const auto face = this->face();
    if (!was || was->label != face.label) {
        // Aligned, the state keeps its own width without holding the column to it: the column takes what the
        // button leaves, and a long name is cut only where it meets the button.
        delete stateLabel_;
        stateLabel_ = nullptr;
        const QFont caption = theme::font(theme::TextStyle::caption);
        switch (face.label) {
            case NearbyRowFace::Label::thisDevice:
                stateLabel_ = new SymbolLabel("laptopcomputer", QStringLiteral("This Computer"), theme::secondary(),
                                              caption, this);
                break;
            case NearbyRowFace::Label::connected:
                stateLabel_ = new SymbolLabel("dot.radiowaves.left.and.right", QStringLiteral("Connected"),
                                              theme::green(), caption, this);
                break;
            case NearbyRowFace::Label::paired:
                stateLabel_ =
                    new SymbolLabel("checkmark.seal.fill", QStringLiteral("Paired"), theme::green(), caption, this);
                break;
            case NearbyRowFace::Label::none:
                break;
        }
        if (stateLabel_) {
            column_->addWidget(stateLabel_, 0, Qt::AlignLeft);
            stateLabel_->show();
        }
    }
    if (!was || was->control != face.control) {
        switch (face.control) {
            case NearbyRowFace::Control::disconnect:
                button_->setText(QStringLiteral("Disconnect"));
                button_->setStyleSheet(destructiveBorderedStyle());
                break;
            case NearbyRowFace::Control::connect:
                button_->setText(QStringLiteral("Connect"));
                button_->setStyleSheet(prominentStyle());
                break;
            case NearbyRowFace::Control::pair:
                button_->setText(QStringLiteral("Pair"));
                button_->setStyleSheet(prominentStyle());
                break;
            case NearbyRowFace::Control::spinner:
            case NearbyRowFace::Control::none:
                break;
        }
        spinner_->setVisible(face.control == NearbyRowFace::Control::spinner);
        button_->setVisible(isButton(face.control));
    }
}

void NearbyCameraRow::act() {
    // "Pair" and "Connect" are the same call: the link pairs first with a camera it does not trust yet.
    auto controller = controller_.lock();
    if (!controller || !controller->peers()) return;
    const PeerId id = camera_.id;
    switch (face().control) {
        case NearbyRowFace::Control::disconnect:
            controller->disconnectCamera(id);
            break;
        case NearbyRowFace::Control::connect:
        case NearbyRowFace::Control::pair:
            controller->peers()->connect(id);
            break;
        case NearbyRowFace::Control::spinner:
        case NearbyRowFace::Control::none:
            break;
    }
}

void NearbyCameraRow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    theme::fillRoundedRect(painter, QRectF(rect()), rowRadius, theme::white(0.08));
}

// MARK: NearbyCameraList

namespace {

/// Scrolls the rows where the room is short, and asks for all of them where it is not.
class RowsScroll : public QScrollArea {
public:
    using QScrollArea::QScrollArea;
    /// Called once the rows inside have been laid out again.
    std::function<void()> laidOut;

    QSize sizeHint() const override {
        const QSize content = widget() ? widget()->sizeHint() : QSize();
        const int bar = verticalScrollBar()->sizeHint().width();
        return {content.width() + bar, content.height()};
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        // Rows come and go inside: the room asked of the view around follows them. The column's own layout
        // has seen the event before this filter, so its rows stand where they now go.
        if (watched == widget() && event->type() == QEvent::LayoutRequest) updateGeometry();
        const bool filtered = QScrollArea::eventFilter(watched, event);
        if (watched == widget() && (event->type() == QEvent::LayoutRequest || event->type() == QEvent::Resize) &&
            laidOut)
            laidOut();
        return filtered;
    }
};

}  // namespace

NearbyCameraList::NearbyCameraList(std::shared_ptr<MonitorController> controller, QWidget* parent)
    : QWidget(parent), controller_(std::move(controller)) {
    // However many cameras are nearby, each row keeps its height and the list scrolls in the room it has.
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* scroll = new RowsScroll(this);
    scroll_ = scroll;
    scroll_->setObjectName(QStringLiteral("nearbyRows"));
    scroll_->setWidgetResizable(true);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    scroll_->viewport()->setAutoFillBackground(false);
    auto* body = new QWidget(scroll_);
    body->setAutoFillBackground(false);
    scroll_->setWidget(body);
    body->installEventFilter(scroll_);
    outer->addWidget(scroll_);
    column_ = new QVBoxLayout(body);
    column_->setContentsMargins(0, 0, 0, 0);
    column_->setSpacing(columnSpacing);
    // The column grows with its rows before it places them: a row shown is laid out at once, and without
    // this the rows would share the column's old height (squeezed) until the scroll area next resizes it.
    column_->setSizeConstraint(QLayout::SetMinimumSize);

    waitingBox_ = new QWidget(body);
    auto* waitingColumn = new QVBoxLayout(waitingBox_);
    waitingColumn->setContentsMargins(0, 0, 0, 0);
    waitingColumn->setSpacing(columnSpacing);
    waitingColumn->addWidget(new ActivitySpinner(22, waitingBox_), 0, Qt::AlignHCenter);
    waiting_ = new QLabel(nearbyWaitingText(), waitingBox_);
    waiting_->setWordWrap(true);
    waiting_->setAlignment(Qt::AlignHCenter);
    waiting_->setFont(theme::font(theme::TextStyle::footnote));
    theme::setTextColor(*waiting_, theme::secondary());
    waitingColumn->addWidget(waiting_);
    column_->addWidget(waitingBox_);

    // While no input is given, rows that come, go or change leave the rows in view where they are; a scroll
    // the person makes is the place kept from then on.
    scroll->laidOut = [this] { keepPlace(); };
    connect(scroll_->verticalScrollBar(), &QScrollBar::rangeChanged, this, &NearbyCameraList::keepPlace);
    connect(scroll_->verticalScrollBar(), &QScrollBar::valueChanged, this, [this] {
        if (!keeping_) holdPlace(controller_->nearbyCameras());
    });
    connect(controller_.get(), &MonitorController::nearbyCamerasChanged, this, &NearbyCameraList::refresh);
    refresh();
}

std::vector<NearbyCameraRow*> NearbyCameraList::rows() const {
    std::vector<NearbyCameraRow*> out;
    for (const auto& row : rows_)
        if (row) out.push_back(row);
    return out;
}

void NearbyCameraList::refresh() {
    const auto& cameras = controller_->nearbyCameras();
    const bool waiting = showsWaitingText(cameras);
    const std::vector<CameraLink::NearbyCamera> listed = waiting ? std::vector<CameraLink::NearbyCamera>{} : cameras;
    holdPlace(listed);
    waitingBox_->setVisible(waiting);
    // Each camera keeps its row, changed in place; rows of cameras no longer listed go.
    std::vector<QPointer<NearbyCameraRow>> kept;
    for (const auto& camera : listed) {
        auto it = std::find_if(rows_.begin(), rows_.end(),
                               [&](const auto& row) { return row && row->camera().id == camera.id; });
        if (it != rows_.end()) {
            (*it)->setCamera(camera);
            kept.push_back(std::exchange(*it, nullptr));
        } else {
            kept.emplace_back(new NearbyCameraRow(controller_, camera, scroll_->widget()));
        }
    }
    for (auto& row : rows_) {
        if (!row) continue;
        column_->removeWidget(row);
        row->hide();
        // Later: the list may change from inside a row's own button handler.
        row->deleteLater();
    }
    // In the link's order, after the waiting text.
    for (std::size_t i = 0; i < kept.size(); ++i) {
        const int index = static_cast<int>(i) + 1;
        if (column_->indexOf(kept[i]) == index) continue;
        column_->removeWidget(kept[i]);
        column_->insertWidget(index, kept[i]);
        kept[i]->show();
    }
    rows_ = std::move(kept);
}

void NearbyCameraList::holdPlace(const std::vector<CameraLink::NearbyCamera>& cameras) {
    std::vector<NearbyRowPlace> places;
    for (const auto& row : rows_) {
        // A row not laid out yet has no place on screen to keep.
        if (!row || !row->isVisible() || !row->testAttribute(Qt::WA_Moved)) continue;
        const bool stays =
            std::any_of(cameras.begin(), cameras.end(), [&](const auto& c) { return c.id == row->camera().id; });
        places.push_back({row->camera().id, row->y(), row->height(), stays});
    }
    const int scrolled = scroll_->verticalScrollBar()->value();
    const QPoint pointer = scroll_->viewport()->mapFromGlobal(QCursor::pos());
    const auto over =
        scroll_->viewport()->rect().contains(pointer) ? std::optional(pointer.y() + scrolled) : std::nullopt;
    anchor_ = scrollAnchor(places, scrolled, over);
}

void NearbyCameraList::keepPlace() {
    if (!anchor_ || keeping_) return;
    for (const auto& row : rows_) {
        if (!row || row->camera().id != anchor_->id) continue;
        if (!row->isVisible()) return;
        const QScopedValueRollback keeping(keeping_, true);
        scroll_->verticalScrollBar()->setValue(row->y() - anchor_->offset);
        return;
    }
}

// MARK: NearbyCamerasView

NearbyCamerasView::NearbyCamerasView(std::shared_ptr<MonitorController> controller, QWidget* parent)
    : NearbyCamerasView(std::move(controller), Placement::centred, parent) {}

NearbyCamerasView::NearbyCamerasView(std::shared_ptr<MonitorController> controller, Placement placement,
                                     QWidget* parent)
    : QWidget(parent), controller_(std::move(controller)) {
    // At most 420 wide, centred in the width offered; centred in the height too where nothing scrolls.
    auto* rows = new QVBoxLayout(this);
    rows->setContentsMargins(viewPadding, viewPadding, viewPadding, viewPadding);
    if (placement == Placement::centred) rows->addStretch(1);
    auto* outer = new QHBoxLayout;
    rows->addLayout(outer);
    rows->addStretch(1);
    auto* content = new QWidget(this);
    content->setMaximumWidth(maximumContentWidth);
    content->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    outer->addStretch(1);
    outer->addWidget(content, 1000);
    outer->addStretch(1);
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(columnSpacing);

    logo_ = new AppLogo(logoSize, content);
    column->addWidget(logo_, 0, Qt::AlignHCenter);
    auto* title = new QLabel(QStringLiteral("Nearby cameras"), content);
    title->setFont(theme::font(theme::TextStyle::headline));
    title->setAlignment(Qt::AlignHCenter);
    column->addWidget(title);
    count_ = new QLabel(content);
    count_->setFont(theme::font(theme::TextStyle::caption));
    count_->setAlignment(Qt::AlignHCenter);
    theme::setTextColor(*count_, theme::secondary());
    column->addWidget(count_);
    list_ = new NearbyCameraList(controller_, content);
    column->addWidget(list_);

    connect(controller_.get(), &MonitorController::feedsChanged, this, &NearbyCamerasView::refresh);
    refresh();
}

void NearbyCamerasView::refresh() {
    const std::size_t connected = controller_->feeds().size();
    // In a short window the cameras' rows need the room more than the mark does.
    logo_->setVisible(connected == 0 && height() >= leastHeightWithLogo);
    const QString count = connectedCountLine(connected, controller_->cameraLimit());
    count_->setText(count);
    count_->setVisible(!count.isEmpty());
}

void NearbyCamerasView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    refresh();
}

// MARK: NetworkView

NetworkView::NetworkView(std::shared_ptr<MonitorController> controller, QWidget* parent) : QWidget(parent) {
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(viewPadding, viewPadding, viewPadding, viewPadding);
    outer->setSpacing(columnSpacing);
    list_ = new NearbyCameraList(std::move(controller), this);
    outer->addWidget(list_);
    outer->addStretch(1);
}

}  // namespace morvane
