// Pictures from cameras (loupe, gallery previews and thumbnails) and scope packets, decoded for display.

#include <QImage>
#include <QImageReader>

#include "fuzz_support.h"
#include "remote/camera_image.h"
#include "remote/scope_image.h"

// Cameras send JPEG; without Qt's image plugins this program would test nothing.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const auto formats = QImageReader::supportedImageFormats();
    morvane::fuzz::require(formats.contains("jpeg") && formats.contains("png"), "Qt's image plugins are missing");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace morvane;
    const ByteView input(data, size);
    const CameraImageLimits limits;
    const QImage image = decodeCameraImage(input, limits);
    if (!image.isNull()) {
        fuzz::require(image.width() <= limits.maxSide && image.height() <= limits.maxSide,
                      "a camera picture beyond the size limit");
    }
    if (auto scope = ScopeImage::decode(input)) {
        fuzz::require(!scope->image.isNull(), "a decoded scope without a picture");
    }
    return 0;
}
