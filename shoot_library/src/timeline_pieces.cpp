// The rate of a take and the frame windows of the live program and of deck-edit sound.

#include <QString>

#include <algorithm>
#include <cmath>
#include <limits>

#include "shoot_library/shoot_library.h"
#include "shoot_library/timecode.h"
#include "take_timeline.h"

namespace morvane {

bool ShootLibrary::cameraLess(const std::string& a, const std::string& b) {
    if (a == b) return false;
    const auto composed = [](const std::string& s) {
        return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()))
            .normalized(QString::NormalizationForm_C)
            .toStdString();
    };
    // Byte order of UTF-8 is code point order.
    return composed(a) < composed(b);
}

TimelineRate ShootLibrary::dayRate(const std::vector<Clip>& clips) {
    struct Count {
        TimelineRate rate;
        std::size_t count = 0;
    };
    std::vector<Count> counts;  // in order of first appearance, so that equal candidates resolve the same way
    for (const auto& clip : clips) {
        if (!clip.frameRate) continue;
        const TimelineRate rate = timecode::normalised(*clip.frameRate, clip.ntsc.value_or(false));
        auto found = std::find_if(counts.begin(), counts.end(), [&](const Count& c) { return c.rate == rate; });
        if (found == counts.end()) {
            counts.push_back({rate, 1});
        } else {
            ++found->count;
        }
    }
    if (counts.empty()) return TimelineRate{30, false};
    const Count* best = &counts.front();
    for (const auto& c : counts) {
        if (c.count > best->count || (c.count == best->count && c.rate.rate < best->rate.rate)) best = &c;
    }
    return best->rate;
}

std::map<std::int64_t, std::vector<ShootLibrary::Clip>> ShootLibrary::clipsByTake(const std::vector<Clip>& clips) {
    std::map<std::int64_t, std::vector<Clip>> groups;
    for (const auto& clip : clips) groups[clip.take].push_back(clip);
    return groups;
}

std::vector<ProgramPiece> ShootLibrary::programPieces(const std::vector<ProgramCut>& cuts,
                                                      const std::set<std::string>& cameras, std::int64_t start,
                                                      std::int64_t end, const TimelineRate& rate) {
    struct Kept {
        const std::string* camera;
        std::int64_t frame;
    };
    std::vector<Kept> kept;
    for (const auto& cut : cuts) {
        if (cameras.count(cut.camera)) kept.push_back({&cut.camera, timecode::timeOfDayFrames(cut.at, rate)});
    }
    // A manifest may name any rate: an hour is held to the range every frame count is clamped to (4e15), so that
    // neither the conversion nor `start - hour` can overflow.
    const auto hour = static_cast<std::int64_t>(std::min(std::trunc(rate.fps() * 3600.0), 4.0e15));
    std::vector<Kept> inside;
    const std::string* opening = nullptr;
    for (const auto& k : kept) {
        if (start < k.frame && k.frame < end) inside.push_back(k);
        if (start - hour < k.frame && k.frame <= start) opening = k.camera;
    }
    if (!opening) {
        if (inside.empty() || cameras.empty()) return {};
        opening = &*std::min_element(cameras.begin(), cameras.end(), cameraLess);
    }

    std::vector<ProgramPiece> segments;
    std::string current = *opening;
    std::int64_t from = start;
    for (const auto& k : inside) {
        if (*k.camera == current) continue;
        segments.push_back({current, from, k.frame});
        current = *k.camera;
        from = k.frame;
    }
    segments.push_back({current, from, end});
    std::vector<ProgramPiece> pieces;
    for (auto& s : segments) {
        if (s.start < s.end) pieces.push_back(std::move(s));
    }
    return pieces;
}

std::vector<SoundPiece> ShootLibrary::soundPieces(const Clip& clip, std::int64_t start, std::int64_t end,
                                                  const DeckEdit::Sound& sound, const std::vector<Clip>& takeClips,
                                                  const TimelineRate& rate) {
    if (sound.is<DeckEdit::Sound::FollowPicture>()) return {SoundPiece{clip, start, end}};
    std::vector<std::string> cameras;
    if (const auto* one = sound.as<DeckEdit::Sound::Camera>()) {
        cameras.push_back(one->name);
    } else {
        for (const auto& c : takeClips) {
            if (std::find(cameras.begin(), cameras.end(), c.camera) == cameras.end()) cameras.push_back(c.camera);
        }
        std::sort(cameras.begin(), cameras.end(), cameraLess);
    }
    std::vector<SoundPiece> pieces;
    for (const auto& camera : cameras) {
        for (const auto& c : takeClips) {
            if (c.camera != camera) continue;
            const timeline::ClipSpan span = timeline::clipSpan(c, rate);
            const std::int64_t s = span.start;
            const std::int64_t e = span.end();
            if (!(s < end && start < e)) continue;
            const std::int64_t lo = std::max(start, s);
            const std::int64_t hi = std::min(e, end);
            if (lo < hi) pieces.push_back({c, lo, hi});
            break;
        }
    }
    return pieces;
}

}  // namespace morvane
