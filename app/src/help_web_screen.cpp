#include "app/help_web_screen.h"

#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QRegularExpression>
#include <QScrollBar>
#include <QVBoxLayout>

#include "platform/desktop_open.h"
#include "platform/theme.h"
#include "resources/resource_paths.h"

namespace morvane {

namespace {

constexpr const char* pageName = "help.html";
constexpr const char* folderName = "Help";

bool isLocal(const QUrl& url) {
    return url.isLocalFile() || url.scheme() == QLatin1String("qrc") || url.scheme().isEmpty();
}

}  // namespace

QUrl helpWebsiteBase() {
    return QUrl(QStringLiteral("https://brindlecroft.app/help/"));
}

HelpNavigation decideHelpNavigation(const QUrl& url, bool linkClick) {
    if (url.isEmpty()) return {true, std::nullopt};
    if (!linkClick) return {true, std::nullopt};
    const QString path = url.path();
    const QString last = QFileInfo(path).fileName();
    if (isLocal(url) && last == QLatin1String(pageName)) return {true, std::nullopt};
    if (!isLocal(url)) return {false, url};
    // A local link leads to the same page on the website; the folder itself to the website's base.
    const bool folder = last.isEmpty() ? QFileInfo(path.chopped(path.endsWith('/') ? 1 : 0)).fileName() == folderName
                                       : last == QLatin1String(folderName);
    QUrl mapped = folder ? helpWebsiteBase() : QUrl(helpWebsiteBase().toString() + last);
    if (!mapped.isValid()) mapped = url;
    return {false, mapped};
}

QString preparedHelpPage(const QString& html) {
    static const QRegularExpression header(
        QStringLiteral(R"(<(\w+)[^>]*\bclass\s*=\s*"[^"]*\bsite-top\b[^"]*"[^>]*>.*?</\1\s*>)"),
        QRegularExpression::DotMatchesEverythingOption | QRegularExpression::CaseInsensitiveOption);
    QString page = html;
    page.remove(header);
    static const QRegularExpression body(QStringLiteral("<body([^>]*)>"), QRegularExpression::CaseInsensitiveOption);
    page.replace(body, QStringLiteral("<body\\1><div style=\"margin-top:4px\"></div>"));
    return page;
}

HelpWebView::HelpWebView(std::function<void(const QUrl&)> openURL, QWidget* parent)
    : QTextBrowser(parent), openURL_(std::move(openURL)) {
    if (!openURL_) openURL_ = [this](const QUrl& url) { openWithDesktop(url, this); };
    setOpenLinks(false);
    setOpenExternalLinks(false);
    setFrameShape(QFrame::NoFrame);
    // Transparent, so the screen's background shows wherever the page draws nothing.
    viewport()->setAutoFillBackground(false);
    setAttribute(Qt::WA_TranslucentBackground);
    setStyleSheet(QStringLiteral("QTextBrowser { background: transparent; }"));
    connect(this, &QTextBrowser::anchorClicked, this, &HelpWebView::followLink);

    QFile file(helpPageResource());
    if (file.open(QIODevice::ReadOnly)) {
        document()->setBaseUrl(QUrl(QStringLiteral("qrc") + helpPageResource()));
        setHtml(preparedHelpPage(QString::fromUtf8(file.readAll())));
        loaded_ = true;
    }
}

QString HelpWebView::helpPageResource() {
    return resources::helpPage();
}

void HelpWebView::followLink(const QUrl& link) {
    const QUrl url = document()->baseUrl().resolved(link);
    const auto decision = decideHelpNavigation(url, true);
    if (decision.allow) {
        if (url.hasFragment()) scrollToAnchor(url.fragment());
        return;
    }
    if (decision.openExternally && openURL_) openURL_(*decision.openExternally);
}

HelpWebScreen::HelpWebScreen(std::function<void(const QUrl&)> openURL, QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("helpScreen"));
    theme::setBackground(*this, theme::rgb(0.07, 0.08, 0.1));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    auto* heading = new QLabel(title(), this);
    heading->setFont(theme::font(theme::TextStyle::headline));
    heading->setAlignment(Qt::AlignCenter);
    heading->setFixedHeight(52);
    column->addWidget(heading);
    view_ = new HelpWebView(std::move(openURL), this);
    column->addWidget(view_, 1);
}

}  // namespace morvane
