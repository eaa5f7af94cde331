#pragma once

#include <string>
#include <vector>

#include "platform/date.h"
#include "protocol/json_coding.h"

namespace morvane {

/// One switch of the live program: the camera put on air and when.
struct ProgramCut {
    std::string camera;  ///< the camera's display name
    Date at;             ///< the moment of the switch

    friend bool operator==(const ProgramCut&, const ProgramCut&) = default;

    /// Same length and, position by position, equal camera and instant.
    static bool listsEqual(const std::vector<ProgramCut>& a, const std::vector<ProgramCut>& b);
};

void to_json(Json& j, const ProgramCut& cut);
void from_json(const Json& j, ProgramCut& cut);

/// A list of cuts is a JSON array of cut objects in list order.
Json programCutListToJson(const std::vector<ProgramCut>& cuts);
std::vector<ProgramCut> programCutListFromJson(const Json& j);

}  // namespace morvane
