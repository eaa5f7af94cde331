#include "protocol/transfer_info.h"

#include "json_values.h"

namespace morvane {

void to_json(Json& j, const TransferInfo& info) {
    j = wire::ObjectWriter()
            .field("id", info.id)
            .field("fileName", info.fileName)
            .field("capturedAt", info.capturedAt)
            .field("isVideo", info.isVideo)
            .field("duration", info.duration)
            .field("cuts", info.cuts)
            .take();
}

void from_json(const Json& j, TransferInfo& info) {
    wire::ObjectReader r(j);
    TransferInfo out;
    r.field("id", out.id);
    r.field("fileName", out.fileName);
    r.field("capturedAt", out.capturedAt);
    r.field("isVideo", out.isVideo);
    r.field("duration", out.duration);
    r.field("cuts", out.cuts);
    info = std::move(out);
}

}  // namespace morvane
