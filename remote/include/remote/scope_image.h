#pragma once

#include <QImage>

#include <optional>

#include "protocol/capture_settings.h"
#include "protocol/packet_type.h"

namespace morvane {

/// A camera's scope picture (luma waveform or RGB parade) as a tinted, translucent bitmap.
struct ScopeImage {
    ScopeKind kind = ScopeKind::waveform;
    /// Premultiplied RGBA, bytes in the order red, green, blue, alpha.
    QImage image;

    /// Decodes a whole scope packet (its kind byte is skipped); none when it is malformed.
    static std::optional<ScopeImage> decode(ByteView packet);

    friend bool operator==(const ScopeImage& a, const ScopeImage& b) { return a.kind == b.kind && a.image == b.image; }
};

}  // namespace morvane
