#pragma once

#include <QImage>

#include "protocol/packet_type.h"

namespace morvane {

/// Limits for pictures that come from cameras: the loupe, gallery previews and thumbnails.
struct CameraImageLimits {
    int maxSide = 8192;                ///< pixels, either side
    int maxAllocationMB = 128;         ///< what the decoder may allocate
    std::size_t maxBytes = 16u << 20;  ///< encoded size
};

/// Decodes a picture from another device. A picture whose declared size is missing or beyond the limits,
/// or whose data do not decode, gives a null image; nothing is allocated for it beyond the limits.
QImage decodeCameraImage(ByteView data, const CameraImageLimits& limits = {});

}  // namespace morvane
