#pragma once

#include "protocol/tagged_union.h"

#include <map>
#include <optional>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include "platform/uuid.h"
#include "protocol/json_coding.h"

namespace morvane {

struct RetouchTake;

/// The edit of one deck take: camera switches, the kept stretch, removed parts and the sound.
///
/// Every time is seconds on the take's own time line (from the take's start). The program is the kept ranges
/// played one after another; a position in it is program time. Nothing derived is stored: every question is
/// answered from the fields on each call.
struct RetouchEdit {
    /// A cut of the picture to a camera.
    struct Switch {
        Uuid id;
        double time = 0;
        std::string camera;

        friend bool operator==(const Switch&, const Switch&) = default;
        static bool listsEqual(const std::vector<Switch>& a, const std::vector<Switch>& b) { return a == b; }
    };

    /// A removed part of the take, from `start` up to (not including) `end`.
    struct Section {
        Uuid id;
        double start = 0;
        double end = 0;

        friend bool operator==(const Section&, const Section&) = default;
        static bool listsEqual(const std::vector<Section>& a, const std::vector<Section>& b) { return a == b; }
    };

    /// What the program sounds like.
    struct Sound : TaggedUnionAccess<Sound> {
        /// One camera's sound throughout; without a name, the take's first camera.
        struct Camera {
            std::optional<std::string> name;
            friend bool operator==(const Camera&, const Camera&) = default;
        };
        /// The sound changes with the picture at every cut.
        struct FollowPicture {
            friend bool operator==(const FollowPicture&, const FollowPicture&) = default;
        };
        /// Every camera's sound together.
        struct Mix {
            friend bool operator==(const Mix&, const Mix&) = default;
        };
        using Value = std::variant<Camera, FollowPicture, Mix>;

        Value value;

        Sound() = default;
        template <class C>
        requires std::is_constructible_v<Value, C&&> Sound(C&& c) : value(std::forward<C>(c)) {}

        static Sound camera(std::optional<std::string> name = std::nullopt) { return Camera{std::move(name)}; }
        static Sound followPicture() { return FollowPicture{}; }
        static Sound mix() { return Mix{}; }

        friend bool operator==(const Sound&, const Sound&) = default;
    };

    /// A (start, end) stretch of take time.
    struct Range {
        double start = 0;
        double end = 0;
        friend bool operator==(const Range&, const Range&) = default;
    };

    /// A (start, end, camera) stretch of take time: a block of the strip or a piece of the program.
    struct Block {
        double start = 0;
        double end = 0;
        std::string camera;
        friend bool operator==(const Block&, const Block&) = default;
    };

    std::vector<Switch> switches;
    double trimStart = 0;
    double trimEnd = 0;
    Sound sound;
    std::map<std::string, float> volumes;        ///< gain per camera; a camera without an entry plays at 1.0
    std::map<std::string, double> soundOffsets;  ///< seconds a camera's sound plays later than its picture
    std::optional<std::vector<Section>> removedSections;

    /// The parts of [trimStart, trimEnd] that are not removed, in time order.
    std::vector<Range> keptRanges() const;
    /// Where a moment of the take plays in the program; a removed moment maps to where the next kept part starts.
    double programTime(double takeTime) const;
    /// The moment of the take that plays at a program time.
    double takeTime(double programTime) const;
    /// The first removed section (stored order) containing the moment.
    std::optional<Section> removedSection(double takeTime) const;
    /// The camera on the picture at a moment; empty when there are no switches.
    std::string camera(double takeTime) const;
    /// One block per switch, in time order, the last one ending at `end`.
    std::vector<Block> blocks(double end) const;
    /// What the program shows, in program order: each block cut to the kept ranges.
    std::vector<Block> pieces() const;

    /// Puts a camera on the picture from a moment on, reusing a switch within 1/60 s, then tidies.
    void switchCamera(const std::string& camera, double takeTime);
    /// Sorts the switches, lets a later switch within 0.001 s replace an earlier one, and starts at 0.
    void normalize();

    static void sortByTime(std::vector<Switch>& list);
    static void sortByTime(std::vector<Section>& list);

    /// A new edit from the take's live program cuts.
    static RetouchEdit editFromLiveCut(const RetouchTake& take);

    friend bool operator==(const RetouchEdit&, const RetouchEdit&) = default;
};

// JSON: keys are the field names; "volumes" and "soundOffsets" are required even when empty; decoding failures
// throw DecodingError (the sound object's wrong shape with "Invalid number of keys found, expected one.").
// Encoding a non-finite number throws EncodingError rather than writing something that cannot be read back.
void to_json(Json& j, const RetouchEdit::Switch& value);
void from_json(const Json& j, RetouchEdit::Switch& value);
void to_json(Json& j, const RetouchEdit::Section& value);
void from_json(const Json& j, RetouchEdit::Section& value);
void to_json(Json& j, const RetouchEdit::Sound& value);
void from_json(const Json& j, RetouchEdit::Sound& value);
void to_json(Json& j, const RetouchEdit& value);
void from_json(const Json& j, RetouchEdit& value);

}  // namespace morvane
