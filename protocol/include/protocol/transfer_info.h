#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/date.h"
#include "platform/uuid.h"
#include "protocol/json_coding.h"
#include "protocol/program_cut.h"

namespace morvane {

/// The description of a capture file that a camera sends ahead of the file itself.
struct TransferInfo {
    Uuid id;               ///< a file sent again carries the same id; its text names the resource transfer
    std::string fileName;  ///< the name the receiver gives the file
    Date capturedAt;       ///< when the capture started
    bool isVideo = false;
    std::optional<double> duration;               ///< seconds
    std::optional<std::vector<ProgramCut>> cuts;  ///< the live program's switches that fall inside the file

    friend bool operator==(const TransferInfo&, const TransferInfo&) = default;
};

void to_json(Json& j, const TransferInfo& info);
void from_json(const Json& j, TransferInfo& info);

}  // namespace morvane
