#include "app/nearby_cameras_view.h"

#include <QFontMetricsF>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimerEvent>
#include <QVBoxLayout>

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

}  // namespace

NearbyCameraRow::NearbyCameraRow(std::shared_ptr<MonitorController> controller, CameraLink::NearbyCamera camera,
                                 QWidget* parent)
    : QWidget(parent), controller_(controller), camera_(std::move(camera)) {
    setAttribute(Qt::WA_TranslucentBackground);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(rowPadding, rowPadding, rowPadding, rowPadding);
    auto* column = new QVBoxLayout;
    column->setSpacing(2);
    auto* name = new CameraNameLabel(QString::fromStdString(camera_.name), this);
    name->setFont(theme::font(theme::TextStyle::body, QFont::DemiBold));
    name->setObjectName(QStringLiteral("cameraName"));
    column->addWidget(name);

    const auto face = nearbyRowFace(camera_);
    const QFont caption = theme::font(theme::TextStyle::caption);
    switch (face.label) {
        case NearbyRowFace::Label::thisDevice:
            stateLabel_ =
                new SymbolLabel("laptopcomputer", QStringLiteral("This Computer"), theme::secondary(), caption, this);
            break;
        case NearbyRowFace::Label::connected:
            stateLabel_ = new SymbolLabel("dot.radiowaves.left.and.right", QStringLiteral("Connected"), theme::green(),
                                          caption, this);
            break;
        case NearbyRowFace::Label::paired:
            stateLabel_ =
                new SymbolLabel("checkmark.seal.fill", QStringLiteral("Paired"), theme::green(), caption, this);
            break;
        case NearbyRowFace::Label::none:
            break;
    }
    // Aligned, the state keeps its own width without holding the column to it: the column takes what the
    // button leaves, and a long name is cut only where it meets the button.
    if (stateLabel_) column->addWidget(stateLabel_, 0, Qt::AlignLeft);
    row->addLayout(column, 1);

    const PeerId id = camera_.id;
    const std::weak_ptr<MonitorController> weak = controller_;
    auto call = [weak, id](void (CameraLink::*operation)(const PeerId&)) {
        return [weak, id, operation] {
            auto controller = weak.lock();
            if (!controller || !controller->peers()) return;
            (controller->peers().get()->*operation)(id);
        };
    };
    const QFont buttonFont = theme::font(theme::TextStyle::subheadline, QFont::DemiBold);
    switch (face.control) {
        case NearbyRowFace::Control::disconnect:
            button_ = new QPushButton(QStringLiteral("Disconnect"), this);
            button_->setStyleSheet(destructiveBorderedStyle());
            connect(button_, &QPushButton::clicked, this, call(&CameraLink::disconnectCamera));
            break;
        case NearbyRowFace::Control::connect:
        case NearbyRowFace::Control::pair:
            button_ = new QPushButton(
                face.control == NearbyRowFace::Control::pair ? QStringLiteral("Pair") : QStringLiteral("Connect"),
                this);
            button_->setStyleSheet(prominentStyle());
            connect(button_, &QPushButton::clicked, this, call(&CameraLink::connect));
            break;
        case NearbyRowFace::Control::spinner:
            row->addWidget(new ActivitySpinner(20, this));
            break;
        case NearbyRowFace::Control::none:
            break;
    }
    // A row never gets less than its own height: names and buttons squeezed flat can be neither read nor hit.
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    if (button_) {
        button_->setFont(buttonFont);
        button_->setCursor(Qt::PointingHandCursor);
        // The button keeps its own width; a long name gives way to it.
        button_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        row->addWidget(button_);
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
    QSize sizeHint() const override {
        const QSize content = widget() ? widget()->sizeHint() : QSize();
        const int bar = verticalScrollBar()->sizeHint().width();
        return {content.width() + bar, content.height()};
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        // Rows come and go inside: the room asked of the view around follows them.
        if (watched == widget() && event->type() == QEvent::LayoutRequest) updateGeometry();
        return QScrollArea::eventFilter(watched, event);
    }
};

}  // namespace

NearbyCameraList::NearbyCameraList(std::shared_ptr<MonitorController> controller, QWidget* parent)
    : QWidget(parent), controller_(std::move(controller)) {
    // However many cameras are nearby, each row keeps its height and the list scrolls in the room it has.
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    scroll_ = new RowsScroll(this);
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
    // Later: the list may change from inside a row's own button handler.
    for (auto& row : rows_) {
        if (!row) continue;
        row->hide();
        row->deleteLater();
    }
    rows_.clear();
    const auto& cameras = controller_->nearbyCameras();
    const bool waiting = showsWaitingText(cameras);
    waitingBox_->setVisible(waiting);
    if (waiting) return;
    for (const auto& camera : cameras) {
        auto* row = new NearbyCameraRow(controller_, camera, scroll_->widget());
        column_->addWidget(row);
        rows_.emplace_back(row);
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
