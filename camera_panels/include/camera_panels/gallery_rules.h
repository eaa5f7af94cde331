#pragma once

#include <QString>

#include <optional>
#include <set>
#include <vector>

#include "protocol/gallery.h"

namespace morvane::gallery {

/// A video's running time, "%d:%02d" (minutes may pass 59; no hours): 59.5 s reads "1:00", none "0:00". A
/// duration that is not a number or too large to count reads "—".
QString durationText(std::optional<double> seconds);

/// The captures of `items` whose identifier is picked, in the order of `items`.
std::vector<GalleryItem> pickedItems(const std::vector<GalleryItem>& items, const std::set<Uuid>& picked);

/// The delete texts count the picked captures that are still in the list.
QString deleteButtonText(int count);  ///< "Delete 3"
QString deleteTitle(int count);       ///< "Delete this capture?" / "Delete 3 captures?"
/// The gallery's delete message: for captures kept on this device, or on the camera phone.
QString deleteMessage(bool local);
/// The pager's delete message for the capture on screen.
QString pageDeleteMessage(bool inVault);
/// "Video · 1:05 · full video is on the camera phone".
QString videoCaption(std::optional<double> duration);
/// "Video, " or "Photo, " and the date and time in the user's short format.
QString accessibilityLabel(const GalleryItem& item);
/// The pager's title: the date in the user's medium date and short time format.
QString pagerTitle(Date date);

}  // namespace morvane::gallery
