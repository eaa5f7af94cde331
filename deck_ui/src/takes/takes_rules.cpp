#include "deck_ui/takes/takes_rules.h"

#include <QDateTime>
#include <QLocale>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "platform/user_folder_names.h"

namespace morvane::takes {

namespace {

const char* const separator = " \u00B7 ";
// Whole numbers beyond this cannot be held by a 64-bit count.
constexpr double countLimit = 9.0e18;

std::string join(const std::vector<std::string>& parts) {
    std::string out;
    for (const auto& part : parts) {
        if (!out.empty()) out += separator;
        out += part;
    }
    return out;
}

}  // namespace

std::string durationText(double seconds) {
    double rounded = std::round(seconds);
    if (!std::isfinite(rounded)) rounded = 0;
    rounded = std::clamp(rounded, -countLimit, countLimit);
    const auto whole = static_cast<long long>(rounded);
    const long long minutes = whole / 60;
    char text[64];
    std::snprintf(text, sizeof text, "%lld:%02lld", minutes, whole - 60 * minutes);
    return text;
}

std::string durationText(const RetouchTake& take) {
    return durationText(take.end().timeIntervalSince(take.start()));
}

std::string camerasLine(const RetouchTake& take) {
    return join(take.cameras());
}

std::string switchSummary(const RetouchTake& take, const std::function<std::string(Date)>& timeOfDay) {
    const auto count = take.cuts.size();
    std::string text = std::to_string(count) + " switch" + (count == 1 ? "" : "es");
    if (take.edit) text += std::string(separator) + "edited";
    return text + separator + timeOfDay(take.start());
}

std::string localTimeOfDay(Date date) {
    const double unix = date.unixSeconds();
    if (!std::isfinite(unix) || std::fabs(unix) > 1.0e13) return {};
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(unix * 1000));
    // Hours and minutes in the locale's way; some locales' short style carries seconds as well.
    QString format = QLocale().timeFormat(QLocale::ShortFormat);
    format.remove(QRegularExpression(QStringLiteral("[:.]ss")));
    return QLocale().toString(local.time(), format).toStdString();
}

bool opensEditor(const RetouchTake& take) {
    return !take.exportedAt && !take.clips.empty();
}

std::vector<Uuid> collectAgainIDs(const RetouchTake& take) {
    std::vector<Uuid> ids;
    for (const auto& clip : take.exportedClips.value_or(std::vector<RetouchClip>{})) ids.push_back(clip.id);
    return ids;
}

std::string deleteTitle(const std::optional<RetouchTake>& take) {
    if (!take) return "Delete this take?";
    return "Delete " + take->defaultName() + "?";
}

std::string deleteMessage(const std::optional<RetouchTake>& take) {
    if (take && take->exportedAt) {
        return "It leaves this list. The exported video stays in " + userFolderNames::pictures().toStdString() +
               " and " + userFolderNames::documents().toStdString() + "; the 4K originals stay on the cameras.";
    }
    return "Its 1080p copies and your edits are removed from this computer. The 4K originals stay on the cameras.";
}

std::string collectingFooter(bool collectsAutomatically) {
    if (collectsAutomatically) {
        return "After each take, every camera sends this deck a 1080p copy, also while the next take is filmed. The "
               "4K originals stay on the cameras.";
    }
    return "Cameras send copies only when you ask. \u201CGet today's takes\u201D also fetches takes filmed before this "
           "deck connected.";
}

bool isArriving(const std::optional<CameraStatus>& status) {
    return status && (status->deckCopiesPreparing >= 1 || status->deckCopiesWaiting >= 1);
}

std::string arrivingStatusText(const CameraStatus& status) {
    std::vector<std::string> parts;
    const auto& progress = status.deckCopyProgress;
    if (progress) {
        double percent = std::trunc(*progress * 100);
        if (!std::isfinite(percent)) percent = 0;
        percent = std::clamp(percent, -countLimit, countLimit);
        parts.push_back("sending " + std::to_string(static_cast<long long>(percent)) + "%");
    }
    std::int64_t waiting = status.deckCopiesWaiting;
    if (progress && waiting > 0) --waiting;  // the copy being sent is not waiting
    if (waiting > 0) parts.push_back(std::to_string(waiting) + " waiting");
    if (status.deckCopiesPreparing > 0) parts.push_back("preparing " + std::to_string(status.deckCopiesPreparing));
    return join(parts);
}

std::string keptArrivingText(const std::optional<CameraStatus>& status, bool connected) {
    if (!connected) return "not connected";
    if (!isArriving(status)) return "all copies in";
    return arrivingStatusText(*status);
}

KeptScroll keepRowInPlace(int rowTop, int offset, int pageHeight, int viewHeight) {
    // More gone above the row than was scrolled: as near as the top allows.
    const int scroll = std::max(0, rowTop - offset);
    return {scroll, std::max(pageHeight, scroll + viewHeight)};
}

}  // namespace morvane::takes
