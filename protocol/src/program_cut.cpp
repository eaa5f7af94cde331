#include "protocol/program_cut.h"

#include "json_values.h"

namespace morvane {

bool ProgramCut::listsEqual(const std::vector<ProgramCut>& a, const std::vector<ProgramCut>& b) {
    if (&a == &b) return true;
    return a == b;
}

void to_json(Json& j, const ProgramCut& cut) {
    j = wire::ObjectWriter().field("camera", cut.camera).field("at", cut.at).take();
}

void from_json(const Json& j, ProgramCut& cut) {
    wire::ObjectReader r(j);
    ProgramCut out;
    r.field("camera", out.camera);
    r.field("at", out.at);
    cut = std::move(out);
}

Json programCutListToJson(const std::vector<ProgramCut>& cuts) {
    return wire::encode(cuts);
}

std::vector<ProgramCut> programCutListFromJson(const Json& j) {
    std::vector<ProgramCut> cuts;
    wire::decode(j, cuts);
    return cuts;
}

}  // namespace morvane
