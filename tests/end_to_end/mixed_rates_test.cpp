// A day of three cameras at 23.976, 25 and 29.97 drop-frame, paired with the remote over the real peer link on
// 127.0.0.1: the picture settings change what the remote sees, two takes recorded on every camera at once with
// live cuts land in the shoot library as two takes, and the timeline files line the cameras up.

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QXmlStreamReader>

#include "camera/take_log.h"
#include "camera_process.h"
#include "deck/retouch_library.h"
#include "loopback_remote.h"
#include "platform/defaults.h"
#include "platform/file_contents.h"
#include "platform/keychain.h"
#include "qt_main_executor.h"
#include "qt_wait.h"
#include "remote/monitor_controller.h"
#include "remote/video_receiver.h"
#include "shoot_library/shoot_library.h"
#include "shoot_library/timecode.h"
#include "test_files.h"
#include "timeline_media.h"

namespace morvane {
namespace {

bool eventually(const std::function<bool()>& condition, int milliseconds = 20000) {
    return test::eventually(condition, milliseconds);
}

void pause(int milliseconds) {
    QElapsedTimer timer;
    timer.start();
    eventually([&] { return timer.elapsed() >= milliseconds; }, milliseconds + 1000);
}

using test::CameraProcess;

struct Mean {
    double red = 0, green = 0, blue = 0;
    double brightness() const { return (red + green + blue) / 3; }
};

Mean meanOf(const QImage& picture) {
    Mean m;
    const QImage image = picture.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb c = image.pixel(x, y);
            m.red += qRed(c);
            m.green += qGreen(c);
            m.blue += qBlue(c);
        }
    const double n = std::max(1, image.width() * image.height());
    return {m.red / n, m.green / n, m.blue / n};
}

// Columns around the middle of the top row band with about the middle's colour: the middle bar's width.
int middleBarWidth(const QImage& picture) {
    const int y = picture.height() / 10, x0 = picture.width() / 2;
    const QColor middle = picture.pixelColor(x0, y);
    auto same = [&](int x) {
        const QColor c = picture.pixelColor(x, y);
        return std::abs(c.red() - middle.red()) + std::abs(c.green() - middle.green()) +
                   std::abs(c.blue() - middle.blue()) <
               40;
    };
    int left = x0, right = x0;
    while (left > 0 && same(left - 1)) --left;
    while (right + 1 < picture.width() && same(right + 1)) ++right;
    return right - left + 1;
}

// "123/25s" or "1188029843/30000s" as seconds.
double fcpxmlSeconds(const QString& time) {
    const auto parts = QString(time).remove('s').split('/');
    if (parts.size() != 2) return parts.value(0).toDouble();
    return parts[0].toDouble() / parts[1].toDouble();
}

/// What a take's FCPXML says: each asset's start and frame duration, and the program's clips in order.
struct TakeDocument {
    std::map<std::string, double> assetStart;          // by camera
    std::map<std::string, std::string> frameDuration;  // by camera
    std::map<std::string, std::string> hasAudio;       // by camera
    std::vector<std::string> program;                  // cameras of the program's picture clips
};

TakeDocument readTake(const std::string& text) {
    TakeDocument doc;
    std::map<QString, QString> formats, assetFormat, assetCamera;
    QXmlStreamReader xml(QString::fromStdString(text));
    bool inProgram = false;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement()) {
            if (xml.isEndElement() && xml.name() == u"gap") inProgram = false;
            continue;
        }
        const auto a = xml.attributes();
        if (xml.name() == u"format") {
            formats[a.value("id").toString()] = a.value("frameDuration").toString();
        } else if (xml.name() == u"asset") {
            // "Take 01 – 11.00.00 – Cam A.mov": the camera is the last part.
            const QString name = a.value("name").toString();
            const QString camera = name.section(QString::fromUtf8(" \u2013 "), -1).chopped(4);
            assetCamera[a.value("id").toString()] = camera;
            doc.assetStart[camera.toStdString()] = fcpxmlSeconds(a.value("start").toString());
            doc.frameDuration[camera.toStdString()] = formats[a.value("format").toString()].toStdString();
            doc.hasAudio[camera.toStdString()] = a.value("hasAudio").toString().toStdString();
        } else if (xml.name() == u"gap" && a.value("name") == u"Program") {
            inProgram = true;
        } else if (inProgram && xml.name() == u"asset-clip" && a.value("srcEnable") == u"video") {
            doc.program.push_back(a.value("name").toString().toStdString());
        }
    }
    return doc;
}

// Each stream of a movie as ffprobe reports it: key=value fields.
std::vector<std::map<std::string, std::string>> probeStreams(const std::filesystem::path& movie) {
    std::vector<std::map<std::string, std::string>> streams;
    const std::string out = test::commandOutput(
        "ffprobe -v error -show_entries stream=codec_type,codec_tag_string,avg_frame_rate,duration,nb_frames:"
        "stream_tags=timecode -of compact=p=0 '" +
        movie.string() + "'");
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        std::map<std::string, std::string> fields;
        std::istringstream parts(line);
        for (std::string part; std::getline(parts, part, '|');) {
            const auto eq = part.find('=');
            if (eq != std::string::npos) fields[part.substr(0, eq)] = part.substr(eq + 1);
        }
        streams.push_back(fields);
    }
    return streams;
}

/// How an xmeml document describes one movie in its <file> element.
struct XmemlFile {
    std::string timebase, ntsc, duration, timecode, frame, pictureTimebase;
};

// The full <file> elements of an xmeml document, by file name.
std::map<std::string, XmemlFile> xmemlFiles(const std::string& text) {
    std::map<std::string, XmemlFile> files;
    QXmlStreamReader xml(QString::fromStdString(text));
    std::vector<QString> path;
    XmemlFile file;
    std::string name;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            path.push_back(xml.name().toString());
        } else if (xml.isEndElement()) {
            if (path.back() == "file" && !name.empty()) files[name] = file;
            if (path.back() == "file") name.clear(), file = {};
            path.pop_back();
        } else if (xml.isCharacters()) {
            const auto at = std::find(path.rbegin(), path.rend(), QString("file"));
            if (at == path.rend()) continue;
            const QStringList inFile(at.base(), path.end());
            const std::string value = xml.text().toString().toStdString();
            const QString where = inFile.join('/');
            if (where == "name") name = value;
            if (where == "rate/timebase") file.timebase = value;
            if (where == "rate/ntsc") file.ntsc = value;
            if (where == "duration") file.duration = value;
            if (where == "timecode/string") file.timecode = value;
            if (where == "timecode/frame") file.frame = value;
            if (where == "media/video/samplecharacteristics/rate/timebase") file.pictureTimebase = value;
        }
    }
    return files;
}

double ratio(const std::string& fraction) {
    const auto slash = fraction.find('/');
    if (slash == std::string::npos) return std::atof(fraction.c_str());
    const double den = std::atof(fraction.c_str() + slash + 1);
    return den > 0 ? std::atof(fraction.c_str()) / den : 0;
}

TEST(MixedRates, ThreeCamerasRecordTwoTakesThatLineUp) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::filesystem::path root(dir.path().toStdString());
    const auto discovery = test::privateDiscovery();
    const std::string& group = discovery.group;
    const std::uint16_t port = discovery.port;

    test::LoopbackRemote remote(root, group, port);
    ShootLibrary& shoot = remote.shoot;
    MonitorEnvironment& env = remote.env;
    auto controller = MonitorController::create(
        4, false, [] { return 0.0; }, env);
    controller->start();

    // Cam C starts at 30 and is switched to 29.97 from the remote.
    struct Camera {
        std::string name, fps;
        std::int64_t frameRate;
        bool ntsc;
        std::string movieRate;
    };
    const std::vector<Camera> cameras{{"Cam A", "23.976", 24, true, "24000/1001"},
                                      {"Cam B", "25", 25, false, "25/1"},
                                      {"Cam C", "30", 30, true, "30000/1001"}};
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.insert("MORVANE_TEST_LOOPBACK_ONLY", "1");
    environment.insert("MORVANE_NEARBY_GROUP", QString::fromStdString(group));
    environment.insert("MORVANE_NEARBY_PORT", QString::number(port));
    std::vector<std::unique_ptr<CameraProcess>> processes;
    for (const auto& camera : cameras) {
        processes.push_back(std::make_unique<CameraProcess>());
        processes.back()->start(CAMERA_PROGRAM,
                                {"--name", QString::fromStdString(camera.name), "--folder",
                                 QString::fromStdString((root / camera.name).string()), "--size", "320x180", "--fps",
                                 QString::fromStdString(camera.fps)},
                                environment);
    }
    std::map<std::string, std::shared_ptr<CameraFeed>> feeds;
    for (std::size_t i = 0; i < cameras.size(); ++i) {
        CameraProcess& process = *processes[i];
        ASSERT_TRUE(eventually([&] { return process.lineStartingWith("ready").has_value(); }));
        std::optional<PeerId> id;
        ASSERT_TRUE(eventually([&] {
            for (const auto& entry : controller->nearbyCameras())
                if (entry.name == cameras[i].name) id = entry.id;
            return id.has_value();
        }));
        controller->peers()->connect(*id);
        ASSERT_TRUE(eventually([&] { return controller->pairingRequest() && process.lineStartingWith("pairing"); }));
        const std::string code = controller->pairingRequest()->code;
        controller->acceptPairing();
        process.type(code);
        ASSERT_TRUE(eventually([&] { return controller->feed(*id) && controller->feed(*id)->status(); }));
        feeds[cameras[i].name] = controller->feed(*id);
    }

    // Each status describes its camera: its size, its formats, its rate.
    controller->sendFromControls(CameraCommand::SetFrameRate{30, true}, *feeds["Cam C"]);
    for (const auto& camera : cameras) {
        auto feed = feeds[camera.name];
        ASSERT_TRUE(eventually([&] {
            const auto& s = feed->status();
            return s && s->frameRate == camera.frameRate && s->ntsc == camera.ntsc && !s->formats.empty();
        })) << camera.name;
        EXPECT_EQ(feed->status()->resolution, (Resolution{320, 180})) << camera.name;
        EXPECT_TRUE(feed->status()->supportsManualWhiteBalance);
    }

    // Cam B's picture settings show in the remote's decoded picture.
    const PeerId b = feeds["Cam B"]->id();
    auto latest = [&] {
        auto receiver = controller->receiver(b);
        return receiver ? receiver->containerLayer().picture() : QImage();
    };
    ASSERT_TRUE(eventually([&] { return !latest().isNull(); }));
    const int plainBar = middleBarWidth(latest());
    controller->sendFromControls(CameraCommand::SetZoom{2}, *feeds["Cam B"]);
    EXPECT_TRUE(eventually([&] { return middleBarWidth(latest()) > plainBar * 17 / 10; })) << plainBar;
    const Mean plain = meanOf(latest());
    controller->sendFromControls(CameraCommand::SetExposureBias{1}, *feeds["Cam B"]);
    EXPECT_TRUE(eventually([&] { return meanOf(latest()).brightness() > plain.brightness() + 15; }));
    const Mean bright = meanOf(latest());
    controller->sendFromControls(CameraCommand::SetWhiteBalance{WhiteBalance::Manual{3200, 0}}, *feeds["Cam B"]);
    EXPECT_TRUE(eventually([&] {
        const Mean m = meanOf(latest());
        return m.blue - m.red > bright.blue - bright.red + 20;
    }));
    EXPECT_TRUE(eventually([&] { return feeds["Cam B"]->status()->whiteBalance.is<WhiteBalance::Manual>(); }));

    // Two takes on every camera at once, with live cuts.
    const std::vector<std::vector<std::string>> cuts{{"Cam A", "Cam B", "Cam C"}, {"Cam A", "Cam B"}};
    for (const auto& takeCuts : cuts) {
        controller->recordOnEveryCamera();
        ASSERT_TRUE(eventually([&] {
            return std::all_of(feeds.begin(), feeds.end(),
                               [](auto& f) { return f.second->status() && f.second->status()->isRecording; });
        }));
        // Cuts well apart: each camera also files its own record of a cut, stamped when the command reached it,
        // which on a loaded machine can come most of a second late.
        for (const auto& camera : takeCuts) {
            pause(1500);
            controller->putOnAir(*feeds[camera]);
        }
        pause(600);
        controller->recordOnEveryCamera();
        ASSERT_TRUE(eventually([&] {
            return std::none_of(feeds.begin(), feeds.end(),
                                [](auto& f) { return f.second->status() && f.second->status()->isRecording; });
        }));
        pause(300);
    }

    const auto dayFolder = shoot.folderURL(Date::now());
    std::optional<ShootLibrary::Day> day;
    ASSERT_TRUE(eventually(
        [&] {
            shoot.waitUntilIdle();
            auto text = readFileContents(dayFolder / ".quorbelin-shoot.json", 1 << 24);
            day = text ? ShootLibrary::decodeManifest(*text) : std::nullopt;
            return day && day->clips.size() == 6 &&
                   std::all_of(day->clips.begin(), day->clips.end(),
                               [](const auto& c) { return c.timecodeFrame.has_value(); });
        },
        60000));
    shoot.waitUntilIdle();

    // One take per recording on every camera.
    std::map<std::int64_t, std::set<std::string>> takes;
    for (const auto& clip : day->clips) {
        EXPECT_TRUE(takes[clip.take].insert(clip.camera).second) << clip.file;
        EXPECT_EQ(clip.hasAudio, true) << clip.file;
    }
    ASSERT_EQ(takes.size(), 2u);
    for (const auto& [take, names] : takes) EXPECT_EQ(names.size(), 3u) << "take " << take;

    for (std::int64_t take = 1; take <= 2; ++take) {
        const auto file =
            dayFolder / std::string(ShootLibrary::perTakeFolderName) / ("Take 0" + std::to_string(take) + ".fcpxml");
        const auto text = readFileContents(file, 1 << 24);
        ASSERT_TRUE(text) << file;
        const TakeDocument doc = readTake(*text);
        ASSERT_EQ(doc.assetStart.size(), 3u) << *text;
        EXPECT_EQ(test::fcpxmlClipsOutsideMedia(*text), std::vector<std::string>{}) << *text;
        double first = 1e9, last = -1e9;
        for (const auto& [camera, start] : doc.assetStart) {
            first = std::min(first, start);
            last = std::max(last, start);
            // Each angle starts at the frame in which the camera captured its first picture.
            const auto entries = TakeLog(root / camera / "takes.json").entries();
            ASSERT_EQ(entries.size(), 2u) << camera;
            const Date captured = entries[static_cast<std::size_t>(take - 1)].info.capturedAt;
            const double secondsOfDay = captured.timeIntervalSince(timecode::startOfLocalDay(captured));
            const double frame = ratio(doc.frameDuration.at(camera).substr(0, doc.frameDuration.at(camera).size() - 1));
            EXPECT_GE(secondsOfDay - start, -0.005) << camera << " take " << take;
            EXPECT_LT(secondsOfDay - start, frame + 0.005) << camera << " take " << take;
        }
        // The angles start together: the record command reaches three busy processes a little apart.
        EXPECT_LT(last - first, 0.5) << *text;
        EXPECT_EQ(doc.frameDuration.at("Cam A"), "1001/24000s");
        EXPECT_EQ(doc.frameDuration.at("Cam B"), "1/25s");
        EXPECT_EQ(doc.frameDuration.at("Cam C"), "1001/30000s");
        for (const auto& [camera, sound] : doc.hasAudio) EXPECT_EQ(sound, "1") << camera;
        // The program holds every cut in turn, after the camera on air before the take. (Where a camera on air had
        // not started recording yet, a camera on air before it is held in between.)
        const std::vector<std::string> expected = take == 1 ? std::vector<std::string>{"Cam A", "Cam B", "Cam C"}
                                                            : std::vector<std::string>{"Cam C", "Cam A", "Cam B"};
        std::size_t found = 0;
        for (const auto& camera : doc.program)
            if (found < expected.size() && camera == expected[found]) ++found;
        EXPECT_EQ(found, expected.size()) << [&] {
            std::string cuts;
            for (const auto& cut : day->cuts)
                cuts += cut.camera + " " + std::to_string(cut.at.secondsSinceReferenceDate) + "\n";
            return cuts;
        }();
        // The camera on air opens the program. Where it started recording a moment after another camera, only a
        // camera that was on air before it holds until it starts: none before the first take's.
        const std::set<std::string> onAirBefore =
            take == 1 ? std::set<std::string>{} : std::set<std::string>{"Cam A", "Cam B"};
        std::size_t opens = 0;
        while (opens < doc.program.size() && onAirBefore.count(doc.program[opens])) ++opens;
        ASSERT_LT(opens, doc.program.size()) << *text;
        EXPECT_EQ(doc.program[opens], expected.front()) << *text;
    }

    // Each movie's rate is its timecode track's; its sound lasts as long as its picture, and that is the length the
    // library took for it.
    std::map<std::string, std::map<std::string, std::string>> pictures;  // by file
    for (const auto& clip : day->clips) {
        const auto camera =
            std::find_if(cameras.begin(), cameras.end(), [&](auto& c) { return c.name == clip.camera; });
        ASSERT_NE(camera, cameras.end());
        std::optional<std::string> videoRate, timecodeRate;
        std::optional<double> pictureLength, soundLength;
        for (const auto& stream : probeStreams(dayFolder / clip.file)) {
            const auto type = stream.count("codec_type") ? stream.at("codec_type") : "";
            if (type == "video") {
                videoRate = stream.at("avg_frame_rate");
                pictureLength = std::atof(stream.at("duration").c_str());
                pictures[clip.file] = stream;
            }
            if (type == "audio") soundLength = std::atof(stream.at("duration").c_str());
            if (stream.count("codec_tag_string") && stream.at("codec_tag_string") == "tmcd")
                timecodeRate = stream.at("avg_frame_rate");
        }
        ASSERT_TRUE(videoRate && timecodeRate && pictureLength && soundLength) << clip.file;
        EXPECT_EQ(*videoRate, camera->movieRate) << clip.file;
        EXPECT_DOUBLE_EQ(ratio(*timecodeRate), ratio(camera->movieRate)) << clip.file << " " << *timecodeRate;
        EXPECT_EQ(clip.frameRate, camera->frameRate) << clip.file;
        EXPECT_EQ(clip.ntsc, camera->ntsc) << clip.file;
        const double frame = 1 / ratio(camera->movieRate);
        EXPECT_NEAR(*soundLength, *pictureLength, frame) << clip.file;
        EXPECT_NEAR(clip.duration, *pictureLength, frame) << clip.file;
    }

    // The xmeml of each take describes every movie as it is: its own rate, frame count and timecode, although the
    // take's sequence runs at one rate for all three.
    for (std::int64_t take = 1; take <= 2; ++take) {
        const auto file = dayFolder / std::string(ShootLibrary::perTakeFolderName) /
                          ("Take 0" + std::to_string(take) + " \u2013 Premiere.xml");
        const auto text = readFileContents(file, 1 << 24);
        ASSERT_TRUE(text) << file;
        const auto files = xmemlFiles(*text);
        EXPECT_EQ(test::xmemlClipsOutsideMedia(*text), std::vector<std::string>{}) << *text;
        for (const auto& clip : day->clips) {
            if (clip.take != take) continue;
            const auto camera =
                std::find_if(cameras.begin(), cameras.end(), [&](auto& c) { return c.name == clip.camera; });
            ASSERT_TRUE(files.count(clip.file)) << clip.file << "\n" << *text;
            const XmemlFile& described = files.at(clip.file);
            const auto& picture = pictures.at(clip.file);
            EXPECT_EQ(described.timebase, std::to_string(camera->frameRate)) << clip.file;
            EXPECT_EQ(described.ntsc, camera->ntsc ? "TRUE" : "FALSE") << clip.file;
            EXPECT_EQ(described.pictureTimebase, std::to_string(camera->frameRate)) << clip.file;
            EXPECT_NEAR(std::atof(described.duration.c_str()), std::atof(picture.at("nb_frames").c_str()), 1)
                << clip.file;
            EXPECT_EQ(described.timecode, picture.at("tag:timecode")) << clip.file;
            EXPECT_EQ(described.frame, std::to_string(*clip.timecodeFrame)) << clip.file;
        }
    }
    controller->stop();
}

}  // namespace
}  // namespace morvane
