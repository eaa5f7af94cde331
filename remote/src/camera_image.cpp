#include "remote/camera_image.h"

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>

namespace morvane {

QImage decodeCameraImage(ByteView data, const CameraImageLimits& limits) {
    if (data.empty() || data.size() > limits.maxBytes) return {};
    // The reader works on a copy it owns; the packet may go away on another thread.
    QByteArray bytes(reinterpret_cast<const char*>(data.data()), static_cast<qsizetype>(data.size()));
    QBuffer buffer(&bytes);
    if (!buffer.open(QIODevice::ReadOnly)) return {};
    QImageReader reader(&buffer);
    reader.setAllocationLimit(limits.maxAllocationMB);
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    // A format that cannot tell its size before decoding is not trusted with our memory.
    if (!size.isValid() || size.isEmpty() || size.width() > limits.maxSide || size.height() > limits.maxSide) return {};
    QImage image;
    if (!reader.read(&image)) return {};
    if (image.width() > limits.maxSide || image.height() > limits.maxSide) return {};
    return image;
}

}  // namespace morvane
