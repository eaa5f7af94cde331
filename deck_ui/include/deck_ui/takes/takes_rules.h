#pragma once

// The takes screens' rules as plain functions: the texts of the take rows, the arriving section and the dialogs.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "deck/retouch_take.h"
#include "platform/uuid.h"
#include "protocol/camera_status.h"

namespace morvane::takes {

/// "%d:%02d" of the nearest whole second (halves away from zero); minutes are not limited to 59.
std::string durationText(double seconds);
/// The take's length as the row shows it.
std::string durationText(const RetouchTake& take);
/// The cameras line: the take's camera names joined by " · ".
std::string camerasLine(const RetouchTake& take);
/// "5 switches · edited · 14:05", the time of day of the take's start written by `timeOfDay`.
std::string switchSummary(const RetouchTake& take, const std::function<std::string(Date)>& timeOfDay);
/// The start's time of day in the user's locale's short style.
std::string localTimeOfDay(Date date);

/// A row opens the editor when its take is not exported and still has its copies.
bool opensEditor(const RetouchTake& take);
/// The clips to ask the cameras for again, in list order; empty when there is nothing to collect again.
std::vector<Uuid> collectAgainIDs(const RetouchTake& take);

/// "Delete Wedding?", "Delete Take 12?", "Delete this take?".
std::string deleteTitle(const std::optional<RetouchTake>& take);
std::string deleteMessage(const std::optional<RetouchTake>& take);
/// The collecting section's footer for the switch's value.
std::string collectingFooter(bool collectsAutomatically);

/// Whether a camera's status puts it in the arriving section.
bool isArriving(const std::optional<CameraStatus>& status);
/// "sending 42% · 2 waiting · preparing 1".
std::string arrivingStatusText(const CameraStatus& status);
/// What a camera's arriving row says: its copies on their way; once none is left, that they are in; a camera that
/// went, that it is not connected. The row stays while the screen is open, so that the takes under it keep their
/// place.
std::string keptArrivingText(const std::optional<CameraStatus>& status, bool connected);

/// Where the list scrolls so that a row keeps its place on screen: the row, now `rowTop` down the page, stood
/// `offset` below the visible top; where the page, `pageHeight` tall in a view `viewHeight` tall, is too short for
/// that scroll it grows at its bottom to `pageHeight`.
struct KeptScroll {
    int scroll = 0;
    int pageHeight = 0;
    friend bool operator==(const KeptScroll&, const KeptScroll&) = default;
};
KeptScroll keepRowInPlace(int rowTop, int offset, int pageHeight, int viewHeight);

}  // namespace morvane::takes
