// FCPXML 1.10: per take a multicam clip with one angle per camera file, its markers, the live program as a
// project and every deck edit of the take as a further project.

#include <algorithm>
#include <map>

#include "shoot_library/shoot_library.h"
#include "shoot_library/timecode.h"
#include "take_timeline.h"
#include "text_utils.h"
#include "xml_writer.h"

namespace morvane {

namespace {

using text::number;

struct Document {
    std::int64_t counter = 1;
    std::map<std::string, std::string> formats;
    std::string resources;
    std::string events;

    std::string nextID(const char* prefix) { return prefix + number(counter++); }

    std::string formatID(const TimelineRate& rate, std::int64_t width, std::int64_t height) {
        const std::string key = number(rate.rate) + (rate.ntsc ? "n" : "") + "-" + number(width) + "-" + number(height);
        if (auto found = formats.find(key); found != formats.end()) return found->second;
        std::string id = nextID("r");
        xml::start(resources, 4, "format",
                   {{"id", id},
                    {"frameDuration", ShootLibrary::fcpxmlTime(1, rate.rate, rate.ntsc)},
                    {"width", number(width)},
                    {"height", number(height)}},
                   true);
        formats.emplace(key, id);
        return id;
    }
};

struct Asset {
    const ShootLibrary::Clip* clip;
    std::string id;
};

std::string clipSource(const std::filesystem::path& folder, const std::string& file) {
    const auto path = std::filesystem::absolute(folder / file).lexically_normal();
    return text::xmlEscaped("file://" + text::percentEncodedPath(path.string()));
}

std::optional<std::string> assetIDForFile(const std::string& file, const std::vector<Asset>& assets) {
    for (const auto& asset : assets) {
        if (asset.clip->file == file) return asset.id;
    }
    return std::nullopt;
}

}  // namespace

std::string ShootLibrary::fcpxmlTime(std::int64_t frames, std::int64_t nominal, bool ntsc) {
    if (ntsc) return number(frames * 1001) + "/" + number(nominal * 1000) + "s";
    return number(frames) + "/" + number(nominal) + "s";
}

std::string ShootLibrary::dayFCPXML(const std::string& dayKey, const Day& day, const std::filesystem::path& folder,
                                    const std::vector<Clip>& clips) {
    Document doc;
    std::vector<Clip> videos;
    for (const auto& clip : clips) {
        if (clip.isVideo) videos.push_back(clip);
    }

    for (const auto& [take, takeClips] : clipsByTake(videos)) {
        const TimelineRate rate = dayRate(takeClips);
        const auto time = [&](std::int64_t frames) { return fcpxmlTime(frames, rate.rate, rate.ntsc); };
        const char* tcFormat = timecode::isDropFrame(rate) ? "DF" : "NDF";
        const std::string takeName = "Take " + text::twoDigits(take);

        const auto [width, height] = timeline::takeFrameSize(takeClips);
        const std::string takeFormat = doc.formatID(rate, width, height);

        std::vector<Clip> angles = takeClips;
        std::stable_sort(angles.begin(), angles.end(),
                         [](const Clip& a, const Clip& b) { return cameraLess(a.camera, b.camera); });

        std::vector<Asset> assets;
        for (const auto& clip : angles) {
            std::string id = doc.nextID("a");
            const TimelineRate clipRate = timeline::movieRate(clip, rate);
            const std::string format = doc.formatID(clipRate, clip.width.value_or(width), clip.height.value_or(height));
            const std::int64_t start = timeline::movieStartFrame(clip, clipRate);
            std::vector<xml::Attribute> attributes{
                {"id", id},
                {"name", text::xmlEscaped(clip.file)},
                {"start", fcpxmlTime(start, clipRate.rate, clipRate.ntsc)},
                {"duration", fcpxmlTime(timecode::frames(clipRate, clip.duration), clipRate.rate, clipRate.ntsc)},
                {"hasVideo", "1"},
                {"hasAudio", clip.soundTrack() ? "1" : "0"},
                {"format", format}};
            if (clip.soundTrack()) attributes.emplace_back("audioSources", "1");
            xml::start(doc.resources, 4, "asset", attributes, false);
            xml::start(doc.resources, 6, "media-rep",
                       {{"kind", "original-media"}, {"src", clipSource(folder, clip.file)}}, true);
            xml::end(doc.resources, 4, "asset");
            assets.push_back({&clip, std::move(id)});
        }

        // Every clip of a movie shows only what the movie holds: `offset` places it on the time of day, `start` is
        // its first frame on the movie's own time.
        const auto spanOf = [&](const Clip& c) { return timeline::clipSpan(c, rate); };
        const timeline::FrameWindow window = timeline::takeWindow(takeClips, rate);
        const std::int64_t ts = window.start;
        const std::int64_t te = window.end;
        const std::int64_t length = std::max<std::int64_t>(1, te - ts);

        const std::string mediaID = doc.nextID("m");
        xml::start(doc.resources, 4, "media", {{"id", mediaID}, {"name", takeName}}, false);
        xml::start(doc.resources, 6, "multicam",
                   {{"format", takeFormat}, {"tcStart", time(ts)}, {"tcFormat", tcFormat}}, false);
        for (std::size_t k = 0; k < assets.size(); ++k) {
            const Clip& clip = *assets[k].clip;
            const timeline::ClipSpan span = spanOf(clip);
            xml::start(doc.resources, 8, "mc-angle",
                       {{"name", text::xmlEscaped(clip.camera)}, {"angleID", "angle" + number(k + 1)}}, false);
            xml::start(doc.resources, 10, "asset-clip",
                       {{"ref", assets[k].id},
                        {"offset", time(span.start)},
                        {"start", time(span.in)},
                        {"duration", time(span.length)},
                        {"name", text::xmlEscaped(clip.file)},
                        {"tcFormat", tcFormat}},
                       true);
            xml::end(doc.resources, 8, "mc-angle");
        }
        xml::end(doc.resources, 6, "multicam");
        xml::end(doc.resources, 4, "media");

        // The multicam clip; tcFormat is not an attribute of mc-clip in the document type.
        xml::start(doc.events, 6, "mc-clip",
                   {{"ref", mediaID}, {"name", takeName}, {"start", time(ts)}, {"duration", time(length)}}, false);
        xml::start(doc.events, 8, "mc-source", {{"angleID", "angle1"}, {"srcEnable", "all"}}, true);
        for (const auto& marker : day.markers) {
            const std::int64_t f = timecode::timeOfDayFrames(marker.date, rate);
            if (f < ts || f > te) continue;
            xml::start(doc.events, 8, "marker",
                       {{"start", time(f)}, {"duration", time(1)}, {"value", "Marker " + number(marker.number)}}, true);
        }
        xml::end(doc.events, 6, "mc-clip");

        // The live program.
        std::set<std::string> cameras;
        for (const auto& c : takeClips) cameras.insert(c.camera);
        std::vector<ProgramPiece> recorded;
        for (const auto& camera : cameras) {
            const auto first =
                std::find_if(assets.begin(), assets.end(), [&](const Asset& a) { return a.clip->camera == camera; });
            if (first == assets.end()) continue;
            const timeline::ClipSpan span = spanOf(*first->clip);
            recorded.push_back({camera, span.start, span.end()});
        }
        const auto program = heldProgram(programPieces(day.cuts, cameras, ts, te, rate),
                                         onAirBefore(day.cuts, cameras, ts, rate), recorded);
        if (!program.empty()) {
            std::string pictures;
            for (const auto& piece : program) {
                auto found = std::find_if(assets.begin(), assets.end(),
                                          [&](const Asset& a) { return a.clip->camera == piece.camera; });
                if (found == assets.end()) continue;
                const Clip& clip = *found->clip;
                const timeline::ClipSpan span = spanOf(clip);
                const std::int64_t from = std::max(piece.start, span.start);
                const std::int64_t to = std::min(piece.end, span.end());
                if (from >= to) continue;
                xml::start(pictures, 14, "asset-clip",
                           {{"ref", found->id},
                            {"lane", number(1 + (found - assets.begin()))},
                            {"offset", time(from)},
                            {"name", text::xmlEscaped(clip.camera)},
                            {"start", time(span.mediaFrame(from))},
                            {"duration", time(to - from)},
                            {"srcEnable", "video"},
                            {"tcFormat", tcFormat}},
                           true);
            }
            std::string sounds;
            for (std::size_t k = 0; k < assets.size(); ++k) {
                const Clip& clip = *assets[k].clip;
                if (!clip.soundTrack()) continue;
                const timeline::ClipSpan span = spanOf(clip);
                xml::start(sounds, 14, "asset-clip",
                           {{"ref", assets[k].id},
                            {"lane", "-" + number(k + 1)},
                            {"offset", time(span.start)},
                            {"name", text::xmlEscaped(clip.camera) + " sound"},
                            {"start", time(span.in)},
                            {"duration", time(std::max<std::int64_t>(1, span.length))},
                            {"srcEnable", "audio"},
                            {"tcFormat", tcFormat}},
                           true);
            }
            xml::start(doc.events, 6, "project", {{"name", takeName + " \u2013 Program"}}, false);
            xml::start(
                doc.events, 8, "sequence",
                {{"format", takeFormat}, {"tcStart", time(ts)}, {"duration", time(length)}, {"tcFormat", tcFormat}},
                false);
            xml::start(doc.events, 10, "spine", {}, false);
            xml::start(doc.events, 12, "gap",
                       {{"name", "Program"}, {"offset", time(ts)}, {"start", time(ts)}, {"duration", time(length)}},
                       false);
            doc.events += pictures;
            doc.events += sounds;
            xml::end(doc.events, 12, "gap");
            xml::end(doc.events, 10, "spine");
            xml::end(doc.events, 8, "sequence");
            xml::end(doc.events, 6, "project");
        }

        for (const DeckEdit* edit : timeline::deckEditsOfTake(day.deckEdits, window, rate)) {
            const auto resolved = timeline::editPieces(*edit, takeClips, rate);
            if (resolved.empty()) continue;

            const bool followPicture = edit->sound.is<DeckEdit::Sound::FollowPicture>();
            std::string spine;
            std::int64_t offset = 0;
            for (const auto& piece : resolved) {
                const auto id = assetIDForFile(piece.clip->file, assets);
                if (!id) continue;
                const timeline::ClipSpan span = spanOf(*piece.clip);
                xml::start(spine, 12, "asset-clip",
                           {{"ref", *id},
                            {"offset", time(offset)},
                            {"name", text::xmlEscaped(piece.clip->camera)},
                            {"start", time(span.mediaFrame(piece.from))},
                            {"duration", time(piece.to - piece.from)},
                            {"srcEnable", followPicture ? "all" : "video"},
                            {"tcFormat", tcFormat}},
                           followPicture);
                if (!followPicture) {
                    const auto sounds = soundPieces(*piece.clip, piece.from, piece.to, edit->sound, takeClips, rate);
                    for (std::size_t k = 0; k < sounds.size(); ++k) {
                        const auto soundID = assetIDForFile(sounds[k].clip.file, assets);
                        if (!soundID || !sounds[k].clip.soundTrack()) continue;
                        // Connected to the picture clip: placed on its movie's time, showing its own movie's.
                        xml::start(spine, 14, "asset-clip",
                                   {{"ref", *soundID},
                                    {"lane", "-" + number(k + 1)},
                                    {"offset", time(span.mediaFrame(sounds[k].start))},
                                    {"name", text::xmlEscaped(sounds[k].clip.camera) + " sound"},
                                    {"start", time(spanOf(sounds[k].clip).mediaFrame(sounds[k].start))},
                                    {"duration", time(sounds[k].end - sounds[k].start)},
                                    {"srcEnable", "audio"},
                                    {"tcFormat", tcFormat}},
                                   true);
                    }
                    xml::end(spine, 12, "asset-clip");
                }
                offset += piece.to - piece.from;
            }
            xml::start(doc.events, 6, "project",
                       {{"name", takeName + " \u2013 Deck edit (" + text::xmlEscaped(edit->name) + ")"}}, false);
            xml::start(doc.events, 8, "sequence",
                       {{"format", takeFormat},
                        {"tcStart", time(0)},
                        {"duration", time(std::max<std::int64_t>(1, offset))},
                        {"tcFormat", tcFormat}},
                       false);
            xml::start(doc.events, 10, "spine", {}, false);
            doc.events += spine;
            xml::end(doc.events, 10, "spine");
            xml::end(doc.events, 8, "sequence");
            xml::end(doc.events, 6, "project");
        }
    }

    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE fcpxml>\n";
    xml::start(out, 0, "fcpxml", {{"version", "1.10"}}, false);
    xml::start(out, 2, "resources", {}, false);
    out += doc.resources;
    xml::end(out, 2, "resources");
    xml::start(out, 2, "library", {}, false);
    xml::start(out, 4, "event", {{"name", "Brindlecroft " + text::xmlEscaped(dayKey)}}, false);
    out += doc.events;
    xml::end(out, 4, "event");
    xml::end(out, 2, "library");
    xml::end(out, 0, "fcpxml");
    return out;
}

}  // namespace morvane
