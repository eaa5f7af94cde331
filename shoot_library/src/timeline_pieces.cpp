// The rate of a take and the frame windows of the live program and of deck-edit sound.

#include <QString>

#include <algorithm>
#include <cmath>
#include <limits>
#include <set>

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

namespace {

struct KeptCut {
    const std::string* camera;
    std::int64_t frame;
};

/// The cuts to the take's cameras, in time order, at their time-of-day frames.
std::vector<KeptCut> keptCuts(const std::vector<ProgramCut>& cuts, const std::set<std::string>& cameras,
                              const TimelineRate& rate) {
    std::vector<KeptCut> kept;
    for (const auto& cut : cuts) {
        if (cameras.count(cut.camera)) kept.push_back({&cut.camera, timecode::timeOfDayFrames(cut.at, rate)});
    }
    return kept;
}

/// How far back a cut still opens a window: an hour.
std::int64_t hourOf(const TimelineRate& rate) {
    // A manifest may name any rate: an hour is held to the range every frame count is clamped to (4e15), so that
    // neither the conversion nor `start - hour` can overflow.
    return static_cast<std::int64_t>(std::min(std::trunc(rate.fps() * 3600.0), 4.0e15));
}

}  // namespace

std::vector<ProgramPiece> ShootLibrary::programPieces(const std::vector<ProgramCut>& cuts,
                                                      const std::set<std::string>& cameras, std::int64_t start,
                                                      std::int64_t end, const TimelineRate& rate) {
    const auto kept = keptCuts(cuts, cameras, rate);
    const std::int64_t hour = hourOf(rate);
    std::vector<KeptCut> inside;
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

std::vector<std::string> ShootLibrary::onAirBefore(const std::vector<ProgramCut>& cuts,
                                                   const std::set<std::string>& cameras, std::int64_t start,
                                                   const TimelineRate& rate) {
    const auto kept = keptCuts(cuts, cameras, rate);
    const std::int64_t hour = hourOf(rate);
    std::vector<std::string> latestFirst;
    for (auto k = kept.rbegin(); k != kept.rend(); ++k) {
        if (k->frame <= start - hour) break;
        if (k->frame > start) continue;
        if (std::find(latestFirst.begin(), latestFirst.end(), *k->camera) == latestFirst.end())
            latestFirst.push_back(*k->camera);
    }
    return latestFirst;
}

std::vector<ProgramPiece> ShootLibrary::heldProgram(const std::vector<ProgramPiece>& pieces,
                                                    const std::vector<std::string>& before,
                                                    const std::vector<ProgramPiece>& recorded) {
    if (pieces.empty()) return {};
    const std::int64_t first = pieces.front().start, last = pieces.back().end;
    std::set<std::int64_t> edges{first, last};
    for (const auto& p : pieces) edges.insert(p.start);
    for (const auto& r : recorded) {
        if (first < r.start && r.start < last) edges.insert(r.start);
        if (first < r.end && r.end < last) edges.insert(r.end);
    }
    std::vector<std::string> byName;
    for (const auto& r : recorded)
        if (std::find(byName.begin(), byName.end(), r.camera) == byName.end()) byName.push_back(r.camera);
    std::sort(byName.begin(), byName.end(), cameraLess);
    // Between two edges every camera either recorded throughout or not at all.
    const auto records = [&](const std::string& camera, std::int64_t from, std::int64_t to) {
        return std::any_of(recorded.begin(), recorded.end(),
                           [&](const ProgramPiece& r) { return r.camera == camera && r.start <= from && to <= r.end; });
    };

    struct Stretch {
        std::int64_t from, to;
        std::size_t onAir;  // index into `pieces`
    };
    std::vector<Stretch> stretches;
    std::size_t onAir = 0;
    for (auto edge = edges.begin(); std::next(edge) != edges.end(); ++edge) {
        const std::int64_t from = *edge;
        while (onAir + 1 < pieces.size() && pieces[onAir].end <= from) ++onAir;
        stretches.push_back({from, *std::next(edge), onAir});
    }
    // The take's inside runs from the first to the last picture of a camera on air; before and after it the
    // program shows only cameras that were cut to.
    const auto own = [&](const Stretch& s) { return records(pieces[s.onAir].camera, s.from, s.to); };
    const auto firstOwn = std::find_if(stretches.begin(), stretches.end(), own);
    const auto lastOwn = std::find_if(stretches.rbegin(), stretches.rend(), own);

    std::vector<ProgramPiece> held;
    for (auto s = stretches.begin(); s != stretches.end(); ++s) {
        const std::string* camera = nullptr;
        for (std::size_t k = s->onAir + 1; k-- > 0 && !camera;)
            if (records(pieces[k].camera, s->from, s->to)) camera = &pieces[k].camera;
        for (const auto& name : before)
            if (!camera && records(name, s->from, s->to)) camera = &name;
        const bool inside = firstOwn != stretches.end() && firstOwn <= s && s < lastOwn.base();
        for (const auto& name : byName)
            if (!camera && inside && records(name, s->from, s->to)) camera = &name;
        if (!camera) continue;
        if (!held.empty() && held.back().camera == *camera && held.back().end == s->from) {
            held.back().end = s->to;
        } else {
            held.push_back({*camera, s->from, s->to});
        }
    }
    return held;
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
