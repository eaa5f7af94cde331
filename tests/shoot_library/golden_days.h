#pragma once

// Hand-made shoot days for the golden timeline documents.

#include "shoot_library/shoot_library.h"
#include "shoot_test_support.h"

namespace morvane::test {

inline ShootLibrary::Clip clip(const std::string& camera, const std::string& file, Date start, double duration,
                               std::int64_t take) {
    ShootLibrary::Clip c;
    c.file = file;
    c.camera = camera;
    c.start = start;
    c.duration = duration;
    c.isVideo = true;
    c.take = take;
    return c;
}

inline ShootLibrary::Clip probed(ShootLibrary::Clip c, std::int64_t rate, bool ntsc, std::int64_t width,
                                 std::int64_t height, std::optional<std::int64_t> timecodeFrame = std::nullopt) {
    c.frameRate = rate;
    c.ntsc = ntsc;
    c.width = width;
    c.height = height;
    c.timecodeFrame = timecodeFrame;
    return c;
}

inline DeckEdit deckEdit(const char* id, const std::string& name, Date exportedAt, std::vector<DeckEdit::Piece> pieces,
                         DeckEdit::Sound sound) {
    DeckEdit edit;
    edit.id = *Uuid::parse(id);
    edit.name = name;
    edit.exportedAt = exportedAt;
    edit.pieces = std::move(pieces);
    edit.sound = std::move(sound);
    return edit;
}

/// Three cameras at 29.97 in take 1 (one not probed yet, one recorded in 4K with a camera timecode), a PAL take 2
/// with one NTSC clip, live program cuts, markers inside and outside the takes, and deck edits of every sound kind.
inline ShootLibrary::Day multicamDay() {
    using Sound = DeckEdit::Sound;
    const auto t = [](int h, int m, int s, double f = 0) { return localDate(2026, 12, 6, h, m, s, f); };
    ShootLibrary::Day day;
    const std::string dash = " \u2013 ";
    day.clips = {
        probed(clip("B", "Take 01" + dash + "10.15.30" + dash + "B.mov", t(10, 15, 30, 0.2), 20.0, 1), 30, true, 1920,
               1080),
        probed(clip("A", "Take 01" + dash + "10.15.30" + dash + "A&B.mov", t(10, 15, 30), 22.5, 1), 30, true, 3840,
               2160, 1'101'598),
        clip("C \"wide\"", "Take 01" + dash + "10.15.31" + dash + "C 'wide'.mov", t(10, 15, 31), 18.0, 1),
        probed(clip("A", "Take 02" + dash + "11.00.00" + dash + "A.mov", t(11, 0, 0), 30.0, 2), 25, false, 1920, 1080),
        probed(clip("B", "Take 02" + dash + "11.00.01" + dash + "B.mov", t(11, 0, 1), 28.0, 2), 30, true, 1920, 1080),
        probed(clip("C \"wide\"", "Take 02" + dash + "11.00.00" + dash + "C.mov", t(11, 0, 0, 0.5), 29.0, 2), 25, false,
               1280, 720),
    };
    ShootLibrary::Clip photo;
    photo.file = "Photo" + dash + "10.40.00" + dash + "B.heic";
    photo.camera = "B";
    photo.start = t(10, 40, 0);
    day.clips.push_back(photo);

    day.cuts = {{"A", t(10, 15, 29)}, {"B", t(10, 15, 35, 0.5)}, {"C \"wide\"", t(10, 15, 40)},
                {"A", t(10, 15, 45)}, {"B", t(10, 59, 58)},      {"A", t(11, 0, 10)}};
    day.markers = {{1, t(10, 15, 33), {"A", "B"}}, {2, t(10, 30, 0), {}}, {3, t(11, 0, 5, 0.25), {"C \"wide\""}}};
    day.deckEdits = {
        deckEdit("E621E1F8-C36C-495A-93FC-0C247A3E6E5F", "Take 1", t(12, 0, 0),
                 {{"A", t(10, 15, 31), t(10, 15, 36)}, {"B", t(10, 15, 36), t(10, 15, 41)}}, Sound::FollowPicture{}),
        deckEdit("0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0", "Cut & \"Final\"", t(11, 0, 0),
                 {{"B", t(10, 15, 32), t(10, 15, 38)}, {"C \"wide\"", t(10, 15, 38), t(10, 15, 44)}}, Sound::Mix{}),
        deckEdit("11111111-2222-3333-4444-555555555555", "Take 2", t(12, 30, 0),
                 {{"A", t(11, 0, 2), t(11, 0, 8)}, {"Z", t(11, 0, 8), t(11, 0, 9)}}, Sound::Camera{"B"}),
        deckEdit("99999999-8888-7777-6666-555555555555", "Nobody", t(12, 40, 0), {{"Z", t(11, 0, 2), t(11, 0, 8)}},
                 Sound::Mix{}),
    };
    return day;
}

/// A PAL take and a 23.976 take with markers and no live program.
inline ShootLibrary::Day palDay() {
    const auto t = [](int h, int m, int s, double f = 0) { return localDate(2026, 3, 2, h, m, s, f); };
    ShootLibrary::Day day;
    const std::string dash = " \u2013 ";
    day.clips = {
        probed(clip("Left", "Take 01" + dash + "09.00.00" + dash + "Left.mov", t(9, 0, 0, 0.5), 12.0, 1), 25, false,
               1920, 1080, 810'012),
        probed(clip("Right", "Take 01" + dash + "09.00.02" + dash + "Right.mov", t(9, 0, 2), 8.04, 1), 25, false, 1920,
               1080),
        probed(clip("Left", "Take 02" + dash + "09.30.00" + dash + "Left.mov", t(9, 30, 0), 6.0, 2), 24, true, 3840,
               2160),
    };
    day.markers = {{1, t(9, 0, 0, 0.48)}, {2, t(9, 0, 5), {"Left", "Right"}}, {4, t(9, 30, 6)}};
    return day;
}

/// Photos only, with markers.
inline ShootLibrary::Day photoDay() {
    const auto t = [](int h, int m, int s, double f = 0) { return localDate(2026, 12, 7, h, m, s, f); };
    ShootLibrary::Day day;
    ShootLibrary::Clip photo;
    photo.file = "Photo \u2013 14.05.22 \u2013 Camera A.heic";
    photo.camera = "Camera A";
    photo.start = t(14, 5, 22);
    day.clips = {photo};
    day.markers = {{1, t(14, 3, 27), {"Camera A", "Say \"cheese\""}}, {2, t(14, 6, 0)}};
    return day;
}

/// Movies lined up with their timecode tracks, each starting on an odd frame: a drop-frame take at 29.97 (from
/// 12:00:00;01) and a PAL take (from 13:00:00:07), with cuts, markers and a deck edit on frames as well. Every
/// document must start each movie on its own timecode frame.
inline ShootLibrary::Day oddFramesDay() {
    const Date midnight = localDate(2026, 12, 8, 0, 0, 0);
    const auto ntscFrame = [&](std::int64_t f) { return midnight.addingTimeInterval(double(f) * 1001.0 / 30000.0); };
    const auto palFrame = [&](std::int64_t f) { return midnight.addingTimeInterval(double(f) / 25.0); };
    ShootLibrary::Day day;
    const std::string dash = " \u2013 ";
    day.clips = {
        probed(clip("A", "Take 01" + dash + "11.59.56" + dash + "A.mov", ntscFrame(1'294'705), 10.01, 1), 30, true,
               1920, 1080, 1'294'705),
        probed(clip("B", "Take 01" + dash + "11.59.57" + dash + "B.mov", ntscFrame(1'294'733), 9.009, 1), 30, true,
               1920, 1080, 1'294'733),
        probed(clip("A", "Take 02" + dash + "13.00.00" + dash + "A.mov", palFrame(1'170'007), 8.0, 2), 25, false, 1920,
               1080, 1'170'007),
        probed(clip("B", "Take 02" + dash + "13.00.00" + dash + "B.mov", palFrame(1'170'013), 7.6, 2), 25, false, 1920,
               1080, 1'170'013),
    };
    day.cuts = {{"A", ntscFrame(1'294'705)},
                {"B", ntscFrame(1'294'851)},
                {"A", ntscFrame(1'294'903)},
                {"B", palFrame(1'170'013)},
                {"A", palFrame(1'170'101)}};
    day.markers = {{1, ntscFrame(1'294'777)}, {2, palFrame(1'170'055)}};
    day.deckEdits = {
        deckEdit("0DD0DD00-0000-4000-8000-000000000001", "Odd", localDate(2026, 12, 8, 14, 0, 0),
                 {{"B", ntscFrame(1'294'733), ntscFrame(1'294'851)}, {"A", ntscFrame(1'294'851), ntscFrame(1'294'999)}},
                 DeckEdit::Sound::Camera{"A"})};
    return day;
}

/// One take of three cameras at 23.976, 25 and 29.97, each movie lined up with its timecode, with live cuts and a
/// deck edit whose sound mixes the cameras: the take runs at 23.976, the rate of one movie only.
inline ShootLibrary::Day mixedRatesDay() {
    const Date midnight = localDate(2026, 12, 9, 0, 0, 0);
    const auto at = [&](std::int64_t frame, double fps) { return midnight.addingTimeInterval(double(frame) / fps); };
    const double ntsc24 = 24000.0 / 1001.0, ntsc30 = 30000.0 / 1001.0;
    ShootLibrary::Day day;
    day.clips = {
        probed(clip("A", "a.mov", at(992'615, ntsc24), 12.012, 1), 24, true, 1920, 1080, 992'615),
        probed(clip("B", "b.mov", at(1'035'013, 25), 12.04, 1), 25, false, 1920, 1080, 1'035'013),
        probed(clip("C", "c.mov", at(1'240'787, ntsc30), 11.978, 1), 30, true, 1920, 1080, 1'240'787),
    };
    const Date start = at(1'035'013, 25);
    day.cuts = {{"A", start}, {"B", start.addingTimeInterval(3.01)}, {"C", start.addingTimeInterval(6.02)}};
    day.deckEdits = {deckEdit("00000000-0000-4000-8000-00000000000A", "Mixed", localDate(2026, 12, 9, 13, 0, 0),
                              {{"B", start.addingTimeInterval(0.5), start.addingTimeInterval(5.03)},
                               {"C", start.addingTimeInterval(5.03), start.addingTimeInterval(12.5)}},
                              DeckEdit::Sound::Mix{})};
    return day;
}

}  // namespace morvane::test
