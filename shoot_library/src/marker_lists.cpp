// "Markers.edl" and "Markers.csv" of a day.

#include <cstdio>

#include "shoot_library/shoot_library.h"
#include "shoot_library/timecode.h"
#include "text_utils.h"

namespace morvane {

std::string ShootLibrary::markersEDL(const std::string& dayKey, const Day& day, const TimelineRate& rate) {
    std::string out = "TITLE: Brindlecroft " + text::sanitized(dayKey);
    out += "\nFCM: ";
    out += timecode::isDropFrame(rate) ? "DROP FRAME" : "NON-DROP FRAME";
    out += "\n\n";
    for (const auto& marker : day.markers) {
        const std::int64_t frame = timecode::timeOfDayFrames(marker.date, rate);
        const std::string in = timecode::timecodeString(frame, rate);
        // One frame later by count, so that rounding can never make the out point equal the in point.
        const std::string out2 = timecode::timecodeString(frame + 1, rate);
        char line[256];
        std::snprintf(line, sizeof line, "%03lld  001      V     C        %s %s %s %s\n",
                      static_cast<long long>(marker.number), in.c_str(), out2.c_str(), in.c_str(), out2.c_str());
        out += line;
        out += " |C:ResolveColorYellow |M:Marker " + std::to_string(marker.number) + " |D:1\n\n";
    }
    return out;
}

std::string ShootLibrary::markersCSV(const std::string&, const Day& day, const TimelineRate& rate) {
    std::string out = "Marker,Timecode,Time,Take,Recording cameras\n";
    for (const auto& marker : day.markers) {
        out += std::to_string(marker.number);
        out += ',';
        out += timecode::timecodeString(timecode::timeOfDayFrames(marker.date, rate), rate);
        out += ',';
        out += timecode::timeStamp(marker.date);
        out += ',';
        if (auto take = takeAtDate(day.clips, marker.date)) out += std::to_string(*take);
        out += ',';
        std::string cameras;
        for (std::size_t i = 0; i < marker.cameras.size(); ++i) {
            if (i) cameras += "; ";
            cameras += marker.cameras[i];
        }
        cameras = text::sanitized(cameras);
        for (auto& c : cameras) {
            if (c == '"') c = '\'';
        }
        out += '"' + cameras + "\"\n";
    }
    return out;
}

}  // namespace morvane
