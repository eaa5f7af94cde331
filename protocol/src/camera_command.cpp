#include "protocol/camera_command.h"

#include <array>
#include <string_view>
#include <tuple>
#include <utility>

#include "json_values.h"

namespace morvane {

namespace {

using CC = CameraCommand;

// A payload label and the member that holds it.
template <class C, class M>
struct Label {
    const char* name;
    M C::*member;
};
template <class C, class M>
constexpr Label<C, M> label(const char* name, M C::*member) {
    return {name, member};
}

// A case: its wire name and its labelled values.
template <class C, class... Ls>
struct Case {
    const char* name;
    std::tuple<Ls...> labels;
};
template <class C, class... Ls>
constexpr Case<C, Ls...> cases(const char* name, Ls... labels) {
    return {name, {labels...}};
}

auto caseLayout(std::type_identity<CC::SetMode>) {
    return cases<CC::SetMode>("setMode", label("_0", &CC::SetMode::mode));
}
auto caseLayout(std::type_identity<CC::SetTimer>) {
    return cases<CC::SetTimer>("setTimer", label("seconds", &CC::SetTimer::seconds));
}
auto caseLayout(std::type_identity<CC::SetExposureBias>) {
    return cases<CC::SetExposureBias>("setExposureBias", label("_0", &CC::SetExposureBias::stops));
}
auto caseLayout(std::type_identity<CC::SetZoom>) {
    return cases<CC::SetZoom>("setZoom", label("_0", &CC::SetZoom::factor), label("smooth", &CC::SetZoom::smooth));
}
auto caseLayout(std::type_identity<CC::SwitchCamera>) {
    return cases<CC::SwitchCamera>("switchCamera");
}
auto caseLayout(std::type_identity<CC::Shutter>) {
    return cases<CC::Shutter>("shutter");
}
auto caseLayout(std::type_identity<CC::StartRecording>) {
    return cases<CC::StartRecording>("startRecording");
}
auto caseLayout(std::type_identity<CC::StopRecording>) {
    return cases<CC::StopRecording>("stopRecording");
}
auto caseLayout(std::type_identity<CC::SetFormat>) {
    return cases<CC::SetFormat>("setFormat", label("_0", &CC::SetFormat::resolution),
                                label("frameRate", &CC::SetFormat::frameRate));
}
auto caseLayout(std::type_identity<CC::SetFrameRate>) {
    return cases<CC::SetFrameRate>("setFrameRate", label("_0", &CC::SetFrameRate::frameRate),
                                   label("ntsc", &CC::SetFrameRate::ntsc));
}
auto caseLayout(std::type_identity<CC::SetColorProfile>) {
    return cases<CC::SetColorProfile>("setColorProfile", label("_0", &CC::SetColorProfile::profile));
}
auto caseLayout(std::type_identity<CC::SetStabilization>) {
    return cases<CC::SetStabilization>("setStabilization", label("_0", &CC::SetStabilization::stabilization));
}
auto caseLayout(std::type_identity<CC::SetCodec>) {
    return cases<CC::SetCodec>("setCodec", label("_0", &CC::SetCodec::codec));
}
auto caseLayout(std::type_identity<CC::SetRecordToDrive>) {
    return cases<CC::SetRecordToDrive>("setRecordToDrive", label("_0", &CC::SetRecordToDrive::on));
}
auto caseLayout(std::type_identity<CC::SetPreviewLUT>) {
    return cases<CC::SetPreviewLUT>("setPreviewLUT", label("_0", &CC::SetPreviewLUT::lut));
}
auto caseLayout(std::type_identity<CC::LoadCustomLUT>) {
    return cases<CC::LoadCustomLUT>("loadCustomLUT", label("name", &CC::LoadCustomLUT::name),
                                    label("size", &CC::LoadCustomLUT::size), label("data", &CC::LoadCustomLUT::data));
}
auto caseLayout(std::type_identity<CC::SetWhiteBalance>) {
    return cases<CC::SetWhiteBalance>("setWhiteBalance", label("_0", &CC::SetWhiteBalance::whiteBalance));
}
auto caseLayout(std::type_identity<CC::SetFocusMode>) {
    return cases<CC::SetFocusMode>("setFocusMode", label("_0", &CC::SetFocusMode::focus));
}
auto caseLayout(std::type_identity<CC::SetPortrait>) {
    return cases<CC::SetPortrait>("setPortrait", label("_0", &CC::SetPortrait::on));
}
auto caseLayout(std::type_identity<CC::SetExposureMode>) {
    return cases<CC::SetExposureMode>("setExposureMode", label("_0", &CC::SetExposureMode::exposure));
}
auto caseLayout(std::type_identity<CC::SetManualAngle>) {
    return cases<CC::SetManualAngle>("setManualAngle", label("iso", &CC::SetManualAngle::iso),
                                     label("angle", &CC::SetManualAngle::angle));
}
auto caseLayout(std::type_identity<CC::SetAperture>) {
    return cases<CC::SetAperture>("setAperture", label("_0", &CC::SetAperture::aperture));
}
auto caseLayout(std::type_identity<CC::SetDimmed>) {
    return cases<CC::SetDimmed>("setDimmed", label("_0", &CC::SetDimmed::on));
}
auto caseLayout(std::type_identity<CC::SetAids>) {
    return cases<CC::SetAids>("setAids", label("_0", &CC::SetAids::aids));
}
auto caseLayout(std::type_identity<CC::SetLoupe>) {
    return cases<CC::SetLoupe>("setLoupe", label("on", &CC::SetLoupe::on), label("contours", &CC::SetLoupe::contours));
}
auto caseLayout(std::type_identity<CC::SetAudioInput>) {
    return cases<CC::SetAudioInput>("setAudioInput", label("_0", &CC::SetAudioInput::id));
}
auto caseLayout(std::type_identity<CC::DeleteCaptures>) {
    return cases<CC::DeleteCaptures>("deleteCaptures", label("_0", &CC::DeleteCaptures::ids));
}
auto caseLayout(std::type_identity<CC::MonitorHello>) {
    return cases<CC::MonitorHello>("monitorHello", label("acceptsFiles", &CC::MonitorHello::acceptsFiles));
}
auto caseLayout(std::type_identity<CC::MasterHello>) {
    return cases<CC::MasterHello>("masterHello");
}
auto caseLayout(std::type_identity<CC::DeckHello>) {
    return cases<CC::DeckHello>("deckHello");
}
auto caseLayout(std::type_identity<CC::DeckStopAutoCopies>) {
    return cases<CC::DeckStopAutoCopies>("deckStopAutoCopies");
}
auto caseLayout(std::type_identity<CC::RequestGallery>) {
    return cases<CC::RequestGallery>("requestGallery");
}
auto caseLayout(std::type_identity<CC::DeckEdit>) {
    return cases<CC::DeckEdit>("deckEdit", label("_0", &CC::DeckEdit::edit));
}
auto caseLayout(std::type_identity<CC::SetVideo>) {
    return cases<CC::SetVideo>("setVideo", label("_0", &CC::SetVideo::on));
}
auto caseLayout(std::type_identity<CC::SetStreamSize>) {
    return cases<CC::SetStreamSize>("setStreamSize", label("_0", &CC::SetStreamSize::longSide));
}
auto caseLayout(std::type_identity<CC::SetStreamBitRate>) {
    return cases<CC::SetStreamBitRate>("setStreamBitRate", label("_0", &CC::SetStreamBitRate::bitsPerSecond));
}
auto caseLayout(std::type_identity<CC::ProgramCut>) {
    return cases<CC::ProgramCut>("programCut", label("camera", &CC::ProgramCut::camera),
                                 label("at", &CC::ProgramCut::at));
}
auto caseLayout(std::type_identity<CC::RequestDeckCopies>) {
    return cases<CC::RequestDeckCopies>("requestDeckCopies", label("since", &CC::RequestDeckCopies::since));
}
auto caseLayout(std::type_identity<CC::RequestDeckCopiesOf>) {
    return cases<CC::RequestDeckCopiesOf>("requestDeckCopiesOf", label("_0", &CC::RequestDeckCopiesOf::ids));
}
auto caseLayout(std::type_identity<CC::Focus>) {
    return cases<CC::Focus>("focus", label("x", &CC::Focus::x), label("y", &CC::Focus::y));
}
auto caseLayout(std::type_identity<CC::RequestPreview>) {
    return cases<CC::RequestPreview>("requestPreview", label("_0", &CC::RequestPreview::id));
}
auto caseLayout(std::type_identity<CC::SetTransfersPaused>) {
    return cases<CC::SetTransfersPaused>("setTransfersPaused", label("_0", &CC::SetTransfersPaused::paused));
}

template <class C>
const char* nameOf() {
    return caseLayout(std::type_identity<C>{}).name;
}

template <class C>
Json writeCase(const C& command) {
    auto s = caseLayout(std::type_identity<C>{});
    wire::ObjectWriter w;
    std::apply([&](const auto&... l) { (w.field(l.name, command.*(l.member)), ...); }, s.labels);
    return wire::unionCase(s.name, w.take());
}

template <std::size_t I>
CC::Value readCase(const Json& payload) {
    using C = std::variant_alternative_t<I, CC::Value>;
    auto s = caseLayout(std::type_identity<C>{});
    wire::ObjectReader r(payload);
    C command{};
    std::apply([&](const auto&... l) { (r.field(l.name, command.*(l.member)), ...); }, s.labels);
    return command;
}

struct Reader {
    std::string_view name;
    CC::Value (*read)(const Json&);
};

template <std::size_t... I>
constexpr auto makeReaders(std::index_sequence<I...>) {
    return std::array<Reader, sizeof...(I)>{
        Reader{std::string_view(nameOf<std::variant_alternative_t<I, CC::Value>>()), &readCase<I>}...};
}

const auto& readers() {
    static const auto table = makeReaders(std::make_index_sequence<std::variant_size_v<CC::Value>>{});
    return table;
}

}  // namespace

const char* CameraCommand::caseName() const {
    return std::visit([](const auto& c) { return nameOf<std::decay_t<decltype(c)>>(); }, value);
}

void to_json(Json& j, const CameraCommand& command) {
    j = std::visit([](const auto& c) { return writeCase(c); }, command.value);
}

void from_json(const Json& j, CameraCommand& command) {
    auto [name, payload] = wire::readUnionCase(j);
    for (const auto& reader : readers()) {
        if (reader.name == name) {
            command.value = reader.read(payload);
            return;
        }
    }
    wire::unknownCase("CameraCommand", name);
}

}  // namespace morvane
