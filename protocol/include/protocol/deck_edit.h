#pragma once

#include "protocol/tagged_union.h"

#include <string>
#include <variant>
#include <vector>

#include "platform/date.h"
#include "platform/uuid.h"
#include "protocol/json_coding.h"

namespace morvane {

/// A finished multicam cut made on the deck, announced to the cameras and filed in the shoot library.
struct DeckEdit {
    /// One picture piece: the wall-clock span of one camera's recording.
    struct Piece {
        std::string camera;
        Date from;
        Date to;
        friend bool operator==(const Piece&, const Piece&) = default;
    };

    /// The sound of the edit: each piece keeps its own camera's sound, one camera's sound throughout, or all mixed.
    struct Sound : TaggedUnionAccess<Sound> {
        struct FollowPicture {
            friend bool operator==(const FollowPicture&, const FollowPicture&) = default;
        };
        struct Camera {
            std::string name;
            friend bool operator==(const Camera&, const Camera&) = default;
        };
        struct Mix {
            friend bool operator==(const Mix&, const Mix&) = default;
        };
        using Value = std::variant<FollowPicture, Camera, Mix>;

        Value value;

        Sound() = default;
        template <class C>
        requires std::is_constructible_v<Value, C&&> Sound(C&& c) : value(std::forward<C>(c)) {}

        friend bool operator==(const Sound&, const Sound&) = default;
    };

    Uuid id;
    std::string name;
    Date exportedAt;
    std::vector<Piece> pieces;  ///< in edit order
    Sound sound;

    friend bool operator==(const DeckEdit&, const DeckEdit&) = default;
};

void to_json(Json& j, const DeckEdit::Piece& piece);
void from_json(const Json& j, DeckEdit::Piece& piece);
void to_json(Json& j, const DeckEdit::Sound& sound);
void from_json(const Json& j, DeckEdit::Sound& sound);
void to_json(Json& j, const DeckEdit& edit);
void from_json(const Json& j, DeckEdit& edit);

}  // namespace morvane
