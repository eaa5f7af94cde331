#include "camera_panels/gallery_rules.h"

#include <QDateTime>
#include <QLocale>

#include <cmath>

#include "platform/user_folder_names.h"

namespace morvane::gallery {

QString durationText(std::optional<double> seconds) {
    const double value = seconds.value_or(0);
    // Counted in whole seconds; beyond what a count holds there is nothing sensible to show.
    if (!std::isfinite(value) || std::fabs(value) >= 9.2e18) return QStringLiteral("—");
    const long long whole = std::llround(value);
    return QString::asprintf("%lld:%02lld", whole / 60, std::llabs(whole % 60));
}

std::vector<GalleryItem> pickedItems(const std::vector<GalleryItem>& items, const std::set<Uuid>& picked) {
    std::vector<GalleryItem> out;
    for (const auto& item : items) {
        if (picked.count(item.id)) out.push_back(item);
    }
    return out;
}

QString deleteButtonText(int count) {
    return QStringLiteral("Delete %1").arg(count);
}

QString deleteTitle(int count) {
    if (count == 1) return QStringLiteral("Delete this capture?");
    return QStringLiteral("Delete %1 captures?").arg(count);
}

QString deleteMessage(bool local) {
    if (local) {
        return QStringLiteral(
                   "They’re removed from this computer: from %1 › Brindlecroft or from the vault. "
                   "Copies already on another computer stay there.")
            .arg(userFolderNames::pictures());
    }
    return QStringLiteral("They’re removed from the camera. Copies already on this computer stay.");
}

QString pageDeleteMessage(bool inVault) {
    if (inVault) {
        return QStringLiteral(
            "It’s only in the vault, so this removes it for good. Copies already on another computer "
            "stay there.");
    }
    return QStringLiteral("It’s removed from the camera. Copies already on this computer stay there.");
}

QString videoCaption(std::optional<double> duration) {
    return QStringLiteral("Video · %1 · full video is on the camera").arg(durationText(duration));
}

namespace {
QDateTime local(Date date) {
    return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(std::llround(date.unixSeconds() * 1000.0)));
}
}  // namespace

namespace {
// The user's locale; a machine set to the plain "C" locale reads dates as in the United States.
QLocale userLocale() {
    QLocale locale;
    return locale.name() == QLatin1String("C") ? QLocale(QLocale::English, QLocale::UnitedStates) : locale;
}
}  // namespace

QString accessibilityLabel(const GalleryItem& item) {
    const QLocale locale = userLocale();
    const QString when = locale.toString(local(item.date), locale.dateTimeFormat(QLocale::ShortFormat));
    return (item.isVideo ? QStringLiteral("Video, ") : QStringLiteral("Photo, ")) + when;
}

QString pagerTitle(Date date) {
    const QDateTime when = local(date);
    const QLocale locale = userLocale();
    return locale.toString(when.date(), QStringLiteral("MMM d, yyyy")) + QStringLiteral(" at ") +
           locale.toString(when.time(), locale.timeFormat(QLocale::ShortFormat));
}

}  // namespace morvane::gallery
