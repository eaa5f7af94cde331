#pragma once

#include <QString>

#include <optional>
#include <string>

namespace morvane {

/// The deck bar's trailing word: "ON AIR" or "Put on air".
QString deckBarStateText(bool onAir);
/// "Studio, camera 2, on air"
QString deckBarAccessibilityLabel(const std::string& name, int number, bool onAir);
inline const char* const deckBarAccessibilityHint = "Click to put on air. Drag onto another camera to reorder.";

/// The deck button's state line: "ON AIR" or "tap to put on air".
QString deckButtonStateText(bool onAir);
/// "Studio, on air" or "Studio".
QString deckButtonAccessibilityLabel(const std::string& name, bool onAir);
/// The least height of a deck button.
inline qreal deckButtonMinHeight(bool compact) {
    return compact ? 84 : 130;
}

/// The lens row's face for a factor: ".5" below 1, else the whole-number part; "—" for a factor that is not a
/// number or does not fit.
QString deckLensLabel(double factor);
/// Selected when the zoom is within 0.05 of the factor either way.
bool deckLensIsSelected(double zoom, double factor);
/// "Use Studio's back camera" while the front camera is in use, else "Use Studio's front camera".
QString flipCameraLabel(const std::string& name, bool isFrontCamera);
/// The record button's spoken label.
QString recordEveryCameraLabel(bool anyRecording);

/// The first name of a dropped plain-text item, or none for an empty drop.
std::optional<std::string> droppedCameraName(const QString& text);

}  // namespace morvane
