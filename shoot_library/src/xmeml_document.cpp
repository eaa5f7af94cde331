// xmeml version 4: per take a take sequence with every clip on its own tracks, the live program sequence and a
// sequence per deck edit of the take.

#include <algorithm>
#include <map>
#include <unordered_map>

#include "shoot_library/shoot_library.h"
#include "shoot_library/timecode.h"
#include "take_timeline.h"
#include "text_utils.h"

namespace morvane {

namespace {

using text::number;
using Clip = ShootLibrary::Clip;

std::string pathURL(const std::filesystem::path& folder, const std::string& file) {
    const auto path = std::filesystem::absolute(folder / file).lexically_normal();
    return text::xmlEscaped("file://localhost" + text::percentEncodedPath(path.string()));
}

constexpr std::string_view audioSource =
    "<sourcetrack><mediatype>audio</mediatype><trackindex>1</trackindex></sourcetrack>";

std::string emptyFile(std::int64_t n) {
    return "<file id=\"file-" + number(n) + "\"/>";
}

std::string rateFragment(const TimelineRate& rate) {
    return "<rate><timebase>" + number(rate.rate) + "</timebase><ntsc>" + (rate.ntsc ? "TRUE" : "FALSE") +
           "</ntsc></rate>";
}

std::string timecodeElement(std::int64_t f, const TimelineRate& rate) {
    return "<timecode>" + rateFragment(rate) + "<string>" + timecode::timecodeString(f, rate) + "</string><frame>" +
           number(f) + "</frame><displayformat>" + (timecode::isDropFrame(rate) ? "DF" : "NDF") +
           "</displayformat></timecode>";
}

struct Take {
    std::int64_t takeNumber;
    std::string tt;
    std::vector<Clip> clips;  // stored order
    std::vector<Clip> order;  // by camera
    TimelineRate rate;
    std::string rateText;
    std::int64_t windowStart = 0;
    std::int64_t windowEnd = 0;
    std::int64_t width = 1920;
    std::int64_t height = 1080;
    std::unordered_map<std::string, std::int64_t> fileIndex;

    // Where a clip lies and how much of its movie it shows: never more than the movie holds, so that an in point of 0
    // is the movie's first whole frame at this rate and no out point passes its last.
    std::int64_t startFrame(const Clip& c) const { return timeline::clipStartFrame(c, rate); }
    std::int64_t frames(const Clip& c) const { return timeline::clipSpan(c, rate).length; }
    std::int64_t length(const Clip& c) const { return std::max<std::int64_t>(1, frames(c)); }
    std::int64_t duration() const { return std::max<std::int64_t>(1, windowEnd - windowStart); }

    std::string timecodeElement(std::int64_t f) const { return morvane::timecodeElement(f, rate); }
    std::string formatLine() const {
        return "        <format><samplecharacteristics>" + rateText + "<width>" + number(width) + "</width><height>" +
               number(height) + "</height></samplecharacteristics></format>\n";
    }
    std::string sequenceHead(const std::string& id, const std::string& name, std::int64_t duration,
                             std::int64_t tcFrame) const {
        return "    <sequence id=\"" + id + "\">\n      <name>" + name + "</name>\n      <duration>" +
               number(duration) + "</duration>" + rateText + timecodeElement(tcFrame) +
               "\n      <media>\n        <video>\n" + formatLine();
    }
};

std::string markerLines(const Take& take, const ShootLibrary::Day& day) {
    std::string out;
    for (const auto& marker : day.markers) {
        const std::int64_t f = timecode::timeOfDayFrames(marker.date, take.rate);
        if (f < take.windowStart || f > take.windowEnd) continue;
        out += "      <marker><name>Marker " + number(marker.number) + "</name><comment></comment><in>" +
               number(f - take.windowStart) + "</in><out>-1</out></marker>\n";
    }
    return out;
}

void takeSequence(std::string& body, Take& take, const ShootLibrary::Day& day, const std::filesystem::path& folder,
                  std::int64_t& counter) {
    std::string video;
    std::string audio;
    for (const auto& clip : take.order) {
        const std::int64_t n = ++counter;
        take.fileIndex[clip.file] = n;
        const std::string name = text::xmlEscaped(clip.file);
        const std::int64_t s = take.startFrame(clip);
        const std::int64_t off = s - take.windowStart;
        const std::int64_t len = take.length(clip);
        const std::string timing = "            <name>" + name + "</name><duration>" + number(len) + "</duration>" +
                                   take.rateText + "<start>" + number(off) + "</start><end>" + number(off + len) +
                                   "</end><in>0</in><out>" + number(len) + "</out>\n";
        video += "        <track>\n          <clipitem id=\"clip-" + number(n) + "-v\">\n" + timing;
        // The file as it is: its own rate, length and timecode, whatever the take's rate.
        const TimelineRate own = timeline::movieRate(clip, take.rate);
        const std::string ownRate = rateFragment(own);
        const std::int64_t ownLength = std::max<std::int64_t>(1, timecode::frames(own, clip.duration));
        video += "            <file id=\"file-" + number(n) + "\">\n";
        video += "              <name>" + name + "</name><pathurl>" + pathURL(folder, clip.file) + "</pathurl>" +
                 ownRate + "<duration>" + number(ownLength) + "</duration>" +
                 timecodeElement(timeline::movieStartFrame(clip, own), own) + "\n";
        video += "              <media><video><samplecharacteristics>" + ownRate + "<width>" +
                 number(clip.width.value_or(take.width)) + "</width><height>" +
                 number(clip.height.value_or(take.height)) + "</height></samplecharacteristics></video>" +
                 (clip.soundTrack() ? "<audio><channelcount>1</channelcount></audio>" : "") + "</media>\n";
        video += "            </file>\n          </clipitem>\n        </track>\n";

        if (!clip.soundTrack()) continue;
        audio += "        <track>\n          <clipitem id=\"clip-" + number(n) + "-a\">\n" + timing;
        audio += "            " + emptyFile(n) + "\n";
        audio += "            " + std::string(audioSource) + "\n";
        audio += "          </clipitem>\n        </track>\n";
    }
    body += take.sequenceHead("take-" + number(take.takeNumber), "Take " + take.tt, take.duration(), take.windowStart);
    body += video;
    body += "        </video>\n        <audio>\n";
    body += audio;
    body += "        </audio>\n      </media>\n";
    body += markerLines(take, day);
    body += "    </sequence>\n";
}

void programSequence(std::string& body, const Take& take, const ShootLibrary::Day& day) {
    std::set<std::string> cameraSet;
    for (const auto& c : take.clips) cameraSet.insert(c.camera);
    std::vector<ProgramPiece> recorded;
    for (const auto& camera : cameraSet) {
        const auto first =
            std::find_if(take.clips.begin(), take.clips.end(), [&](const Clip& c) { return c.camera == camera; });
        if (first != take.clips.end() && take.fileIndex.count(first->file))
            recorded.push_back({camera, take.startFrame(*first), take.startFrame(*first) + take.frames(*first)});
    }
    const auto pieces = ShootLibrary::heldProgram(
        ShootLibrary::programPieces(day.cuts, cameraSet, take.windowStart, take.windowEnd, take.rate),
        ShootLibrary::onAirBefore(day.cuts, cameraSet, take.windowStart, take.rate), recorded);
    if (pieces.empty()) return;

    std::map<std::string, std::string> pictures;
    for (std::size_t k = 0; k < pieces.size(); ++k) {
        const auto& piece = pieces[k];
        auto clip =
            std::find_if(take.clips.begin(), take.clips.end(), [&](const Clip& c) { return c.camera == piece.camera; });
        if (clip == take.clips.end()) continue;
        auto n = take.fileIndex.find(clip->file);
        if (n == take.fileIndex.end()) continue;
        const std::int64_t cs = take.startFrame(*clip);
        const std::int64_t ce = cs + take.frames(*clip);
        const std::int64_t a = std::max(piece.start, cs);
        const std::int64_t b = std::min(piece.end, ce);
        if (a >= b) continue;
        pictures[piece.camera] += "          <clipitem id=\"take-" + number(take.takeNumber) + "-program-" + number(k) +
                                  "\"><name>" + text::xmlEscaped(clip->file) + "</name>" + take.rateText + "<start>" +
                                  number(a - take.windowStart) + "</start><end>" + number(b - take.windowStart) +
                                  "</end><in>" + number(a - cs) + "</in><out>" + number(b - cs) + "</out>" +
                                  emptyFile(n->second) + "</clipitem>\n";
    }

    std::string sounds;
    for (const auto& clip : take.order) {
        auto n = take.fileIndex.find(clip.file);
        if (n == take.fileIndex.end() || !clip.soundTrack()) continue;
        const std::int64_t off = take.startFrame(clip) - take.windowStart;
        const std::int64_t len = take.length(clip);
        sounds += "        <track><clipitem id=\"take-" + number(take.takeNumber) + "-program-sound-" +
                  number(n->second) + "\"><name>" + text::xmlEscaped(clip.file) + "</name>" + take.rateText +
                  "<start>" + number(off) + "</start><end>" + number(off + len) + "</end><in>0</in><out>" +
                  number(len) + "</out>" + emptyFile(n->second) + std::string(audioSource) + "</clipitem></track>\n";
    }

    std::vector<std::string> cameras(cameraSet.begin(), cameraSet.end());
    std::sort(cameras.begin(), cameras.end(), ShootLibrary::cameraLess);
    body += take.sequenceHead("take-" + number(take.takeNumber) + "-program", "Take " + take.tt + " \u2013 Program",
                              take.duration(), take.windowStart);
    for (const auto& camera : cameras) {
        body += "        <track>\n";
        if (auto found = pictures.find(camera); found != pictures.end()) body += found->second;
        body += "        </track>\n";
    }
    body += "        </video>\n        <audio>\n";
    body += sounds;
    body += "        </audio>\n      </media>\n";
    body += markerLines(take, day);
    body += "    </sequence>\n";
}

void deckEditSequence(std::string& body, const Take& take, const DeckEdit& edit) {
    const auto resolved = timeline::editPieces(edit, take.clips, take.rate);
    if (resolved.empty()) return;

    const std::string u8 = edit.id.uuidString().substr(0, 8);
    const std::string prefix = "take-" + number(take.takeNumber) + "-deck-" + u8;
    const bool perCamera = edit.sound.is<DeckEdit::Sound::Mix>();
    std::string videoTrack;
    std::map<std::string, std::string> groups;
    std::int64_t position = 0;
    for (std::size_t i = 0; i < resolved.size(); ++i) {
        const auto& [clip, a, b] = resolved[i];
        const std::int64_t len = b - a;
        if (auto n = take.fileIndex.find(clip->file); n != take.fileIndex.end()) {
            const std::int64_t cs = take.startFrame(*clip);
            videoTrack += "          <clipitem id=\"" + prefix + "-" + number(i) + "\"><name>" +
                          text::xmlEscaped(clip->file) + "</name>" + take.rateText + "<start>" + number(position) +
                          "</start><end>" + number(position + len) + "</end><in>" + number(a - cs) + "</in><out>" +
                          number(b - cs) + "</out>" + emptyFile(n->second) + "</clipitem>\n";
        }
        const auto sounds = ShootLibrary::soundPieces(*clip, a, b, edit.sound, take.clips, take.rate);
        for (std::size_t j = 0; j < sounds.size(); ++j) {
            const auto& sound = sounds[j];
            auto n = take.fileIndex.find(sound.clip.file);
            if (n == take.fileIndex.end() || !sound.clip.soundTrack()) continue;
            const std::int64_t cs = take.startFrame(sound.clip);
            const std::int64_t recordStart = position + (sound.start - a);
            groups[perCamera ? sound.clip.camera : std::string("sound")] +=
                "          <clipitem id=\"" + prefix + "-" + number(i) + "-a" + number(j) + "\"><name>" +
                text::xmlEscaped(sound.clip.file) + "</name>" + take.rateText + "<start>" + number(recordStart) +
                "</start><end>" + number(recordStart + (sound.end - sound.start)) + "</end><in>" +
                number(sound.start - cs) + "</in><out>" + number(sound.end - cs) + "</out>" + emptyFile(n->second) +
                std::string(audioSource) + "</clipitem>\n";
        }
        position += len;
    }

    std::vector<std::string> keys;
    for (const auto& [key, lines] : groups) keys.push_back(key);
    std::sort(keys.begin(), keys.end(), ShootLibrary::cameraLess);

    body += take.sequenceHead(prefix, "Take " + take.tt + " \u2013 Deck edit (" + text::xmlEscaped(edit.name) + ")",
                              std::max<std::int64_t>(1, position), 0);
    body += "        <track>\n" + videoTrack + "        </track>\n";
    body += "        </video>\n        <audio>\n";
    for (const auto& key : keys) body += "        <track>\n" + groups[key] + "        </track>\n";
    body += "        </audio>\n      </media>\n    </sequence>\n";
}

}  // namespace

std::string ShootLibrary::dayXMEML(const std::string& dayKey, const Day& day, const std::filesystem::path& folder,
                                   const std::vector<Clip>& clips) {
    std::vector<Clip> videos;
    for (const auto& clip : clips) {
        if (clip.isVideo) videos.push_back(clip);
    }
    std::string body;
    std::int64_t counter = 0;
    for (auto& [takeNumber, takeClips] : clipsByTake(videos)) {
        Take take;
        take.takeNumber = takeNumber;
        take.tt = text::twoDigits(takeNumber);
        take.clips = std::move(takeClips);
        take.rate = dayRate(take.clips);
        take.rateText = rateFragment(take.rate);
        const timeline::FrameWindow window = timeline::takeWindow(take.clips, take.rate);
        take.windowStart = window.start;
        take.windowEnd = window.end;
        const timeline::FrameSize size = timeline::takeFrameSize(take.clips);
        take.width = size.width;
        take.height = size.height;
        take.order = take.clips;
        std::stable_sort(take.order.begin(), take.order.end(),
                         [](const Clip& a, const Clip& b) { return cameraLess(a.camera, b.camera); });

        takeSequence(body, take, day, folder, counter);
        programSequence(body, take, day);

        for (const DeckEdit* edit : timeline::deckEditsOfTake(day.deckEdits, window, take.rate))
            deckEditSequence(body, take, *edit);
    }

    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE xmeml>\n<xmeml version=\"4\">\n"
           "  <project>\n    <name>Brindlecroft " +
           text::xmlEscaped(dayKey) + "</name>\n    <children>\n" + body + "    </children>\n  </project>\n</xmeml>\n";
}

}  // namespace morvane
