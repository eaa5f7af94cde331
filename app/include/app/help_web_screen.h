#pragma once

#include <QTextBrowser>
#include <QUrl>
#include <QWidget>

#include <functional>
#include <optional>

namespace morvane {

/// What the help view does with a navigation: follow it in the view, or cancel it and open an address with
/// the system.
struct HelpNavigation {
    bool allow = true;
    std::optional<QUrl> openExternally;
    friend bool operator==(const HelpNavigation&, const HelpNavigation&) = default;
};

/// The help website, to which the page's own local links lead.
QUrl helpWebsiteBase();

/// The link rules: anything that is not a link click, and a click within "help.html", stays in the view;
/// any other click is cancelled and opens outside: a local page as the website's page of the same name (the
/// "Help" folder itself as the website's base), anything else unchanged.
HelpNavigation decideHelpNavigation(const QUrl& url, bool linkClick);

/// The bundled page as the view shows it: the website's header (class "site-top") left out and 4 pixels above
/// the body.
QString preparedHelpPage(const QString& html);

/// The page view: a text browser on a transparent background that loads the bundled help page and applies the
/// link rules; outside addresses go to `openURL` (the system's browser and mail).
class HelpWebView : public QTextBrowser {
    Q_OBJECT
public:
    explicit HelpWebView(std::function<void(const QUrl&)> openURL = {}, QWidget* parent = nullptr);

    /// Where the page comes from; a missing page leaves the view empty.
    static QString helpPageResource();
    bool pageLoaded() const { return loaded_; }

    /// Runs the link rules on a clicked link.
    void followLink(const QUrl& url);

private:
    std::function<void(const QUrl&)> openURL_;
    bool loaded_ = false;
};

/// The help screen "Help Center": the page view over the dark background (sRGB 0.07, 0.08, 0.1), titled inline.
class HelpWebScreen : public QWidget {
    Q_OBJECT
public:
    explicit HelpWebScreen(std::function<void(const QUrl&)> openURL = {}, QWidget* parent = nullptr);
    HelpWebView* view() const { return view_; }
    static QString title() { return QStringLiteral("Help Center"); }

private:
    HelpWebView* view_;
};

}  // namespace morvane
