#pragma once

// Whether every clip of a timeline document shows only what its movie holds: an importer that checks ranges warns
// about or drops a clip that begins before its media or runs past its end, even by part of a frame.

#include <QString>
#include <QXmlStreamReader>

#include <map>
#include <string>
#include <vector>

namespace morvane::test {

__extension__ typedef __int128 WideInt;

/// An exact number of seconds, num/den with den > 0.
struct ExactSeconds {
    WideInt num = 0;
    WideInt den = 1;
    friend bool operator<(const ExactSeconds& a, const ExactSeconds& b) { return a.num * b.den < b.num * a.den; }
    friend ExactSeconds operator+(const ExactSeconds& a, const ExactSeconds& b) {
        return {a.num * b.den + b.num * a.den, a.den * b.den};
    }
};

/// "1001/30000s" or "3s".
inline ExactSeconds fcpxmlSeconds(const QString& text) {
    const auto parts = QString(text).remove('s').split('/');
    return {parts.value(0).toLongLong(), parts.size() > 1 ? parts[1].toLongLong() : 1};
}

/// Each asset-clip of an FCPXML document whose start and duration do not lie inside its asset's, one line each.
inline std::vector<std::string> fcpxmlClipsOutsideMedia(const std::string& document) {
    struct Range {
        ExactSeconds start, end;
    };
    std::map<QString, Range> assets;
    std::vector<std::pair<QString, Range>> clips;  // by asset id
    QXmlStreamReader xml(QString::fromStdString(document));
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement) continue;
        const auto a = xml.attributes();
        if (xml.name() != u"asset" && xml.name() != u"asset-clip") continue;
        const ExactSeconds start = fcpxmlSeconds(a.value("start").toString());
        const Range range{start, start + fcpxmlSeconds(a.value("duration").toString())};
        if (xml.name() == u"asset") assets[a.value("id").toString()] = range;
        if (xml.name() == u"asset-clip") clips.emplace_back(a.value("ref").toString(), range);
    }
    std::vector<std::string> outside;
    for (const auto& [ref, clip] : clips) {
        const auto asset = assets.find(ref);
        if (asset == assets.end() || clip.start < asset->second.start || asset->second.end < clip.end)
            outside.push_back("a clip of " + ref.toStdString() + " outside its asset");
    }
    return outside;
}

/// Each clipitem of an xmeml document whose in point is before its file's first frame or whose out point is after
/// its file's last, each counted at its own rate; one line each.
inline std::vector<std::string> xmemlClipsOutsideMedia(const std::string& document) {
    struct Timed {
        long long timebase = 0, in = 0, out = 0, duration = 0;
        bool ntsc = false;
        QString file;
        // Frames per second as num/den.
        ExactSeconds fps() const {
            const bool drop = ntsc && (timebase == 24 || timebase == 30 || timebase == 60);
            return drop ? ExactSeconds{timebase * 1000, 1001} : ExactSeconds{timebase, 1};
        }
    };
    std::vector<Timed> items;
    std::map<QString, Timed> files;
    std::vector<QString> path;
    QXmlStreamReader xml(QString::fromStdString(document));
    std::vector<Timed> fileStack;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            path.push_back(xml.name().toString());
            if (path.back() == "clipitem") items.emplace_back();
            if (path.back() == "file" && path.size() > 1 && path[path.size() - 2] == "clipitem" && !items.empty()) {
                items.back().file = xml.attributes().value("id").toString();
                fileStack.push_back({});
                fileStack.back().file = items.back().file;
            }
        } else if (xml.isEndElement()) {
            if (path.back() == "file" && !fileStack.empty()) {
                if (fileStack.back().timebase) files[fileStack.back().file] = fileStack.back();
                fileStack.pop_back();
            }
            path.pop_back();
        } else if (xml.isCharacters() && path.size() >= 2) {
            const QString& name = path.back();
            const QString& parent = path[path.size() - 2];
            const QString grand = path.size() >= 3 ? path[path.size() - 3] : QString();
            Timed* owner = nullptr;
            if (parent == "clipitem" || (parent == "rate" && grand == "clipitem"))
                owner = items.empty() ? nullptr : &items.back();
            if (parent == "file" || (parent == "rate" && grand == "file"))
                owner = fileStack.empty() ? nullptr : &fileStack.back();
            if (!owner) continue;
            const QString text = xml.text().toString();
            if (name == "timebase") owner->timebase = text.toLongLong();
            if (name == "ntsc") owner->ntsc = text == "TRUE";
            if (name == "in") owner->in = text.toLongLong();
            if (name == "out") owner->out = text.toLongLong();
            if (name == "duration") owner->duration = text.toLongLong();
        }
    }
    std::vector<std::string> outside;
    for (const auto& item : items) {
        const auto file = files.find(item.file);
        // out / clip fps <= duration / file fps
        const bool late = file != files.end() &&
                          ExactSeconds{file->second.duration * file->second.fps().den, file->second.fps().num} <
                              ExactSeconds{item.out * item.fps().den, item.fps().num};
        if (file == files.end() || item.in < 0 || late)
            outside.push_back("a clip of " + item.file.toStdString() + " outside its file (in " +
                              std::to_string(item.in) + ", out " + std::to_string(item.out) + ")");
    }
    return outside;
}

}  // namespace morvane::test
