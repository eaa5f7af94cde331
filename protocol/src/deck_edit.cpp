#include "protocol/deck_edit.h"

#include "json_values.h"

namespace morvane {

void to_json(Json& j, const DeckEdit::Piece& piece) {
    j = wire::ObjectWriter().field("camera", piece.camera).field("from", piece.from).field("to", piece.to).take();
}

void from_json(const Json& j, DeckEdit::Piece& piece) {
    wire::ObjectReader r(j);
    DeckEdit::Piece out;
    r.field("camera", out.camera);
    r.field("from", out.from);
    r.field("to", out.to);
    piece = std::move(out);
}

void to_json(Json& j, const DeckEdit::Sound& sound) {
    using Sound = DeckEdit::Sound;
    if (sound.is<Sound::FollowPicture>()) {
        j = wire::unionCase("followPicture");
    } else if (auto camera = sound.as<Sound::Camera>()) {
        j = wire::unionCase("camera", wire::ObjectWriter().field("_0", camera->name).take());
    } else {
        j = wire::unionCase("mix");
    }
}

void from_json(const Json& j, DeckEdit::Sound& sound) {
    using Sound = DeckEdit::Sound;
    auto [name, payload] = wire::readUnionCase(j);
    if (name == "followPicture") {
        sound = Sound::FollowPicture{};
    } else if (name == "camera") {
        Sound::Camera camera;
        wire::ObjectReader(payload).field("_0", camera.name);
        sound = std::move(camera);
    } else if (name == "mix") {
        sound = Sound::Mix{};
    } else {
        wire::unknownCase("Sound", name);
    }
}

void to_json(Json& j, const DeckEdit& edit) {
    j = wire::ObjectWriter()
            .field("id", edit.id)
            .field("name", edit.name)
            .field("exportedAt", edit.exportedAt)
            .field("pieces", edit.pieces)
            .field("sound", edit.sound)
            .take();
}

void from_json(const Json& j, DeckEdit& edit) {
    wire::ObjectReader r(j);
    DeckEdit out;
    r.field("id", out.id);
    r.field("name", out.name);
    r.field("exportedAt", out.exportedAt);
    r.field("pieces", out.pieces);
    r.field("sound", out.sound);
    edit = std::move(out);
}

}  // namespace morvane
