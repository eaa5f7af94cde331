#include "app/deck_rules.h"

#include <QStringList>

#include <cmath>
#include <optional>

#include "camera_panels/status_texts.h"

namespace morvane {

QString deckBarStateText(bool onAir) {
    return onAir ? QStringLiteral("ON AIR") : QStringLiteral("Put on air");
}

QString deckBarAccessibilityLabel(const std::string& name, int number, bool onAir) {
    QString label = QString::fromStdString(name) + QStringLiteral(", camera ") + QString::number(number);
    if (onAir) label += QStringLiteral(", on air");
    return label;
}

QString deckButtonStateText(bool onAir) {
    return onAir ? QStringLiteral("ON AIR") : QStringLiteral("click to put on air");
}

QString deckButtonAccessibilityLabel(const std::string& name, bool onAir) {
    return QString::fromStdString(name) + (onAir ? QStringLiteral(", on air") : QString());
}

QString deckLensLabel(double factor) {
    if (std::isnan(factor)) return QString::fromUtf8(missingValueText);
    if (factor < 1) return QStringLiteral(".5");
    return QString::fromStdString(wholeNumberText(wholeNumber(factor)));
}

bool deckLensIsSelected(double zoom, double factor) {
    return std::abs(zoom - factor) < 0.05;
}

QString flipCameraLabel(const std::string& name, bool isFrontCamera) {
    return QStringLiteral("Use ") + QString::fromStdString(name) +
           (isFrontCamera ? QStringLiteral("'s back camera") : QStringLiteral("'s front camera"));
}

QString recordEveryCameraLabel(bool anyRecording) {
    return anyRecording ? QStringLiteral("Stop recording on every camera") : QStringLiteral("Record on every camera");
}

std::optional<std::string> droppedCameraName(const QString& text) {
    // Several items arrive as lines; only the first counts.
    const auto items = text.split(QLatin1Char('\n'));
    if (text.isEmpty() || items.isEmpty()) return std::nullopt;
    return items.front().toStdString();
}

}  // namespace morvane
