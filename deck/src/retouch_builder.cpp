#include "deck/retouch_builder.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>
#include <QStandardPaths>
#include <QThreadPool>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <ctime>
#include <limits>
#include <memory>

#include "deck/retouch_library.h"
#include "platform/photo_library.h"

namespace morvane {

namespace fs = std::filesystem;

namespace {

constexpr std::int32_t timescale = 600;
constexpr double sliver = 0.001;
// File names stay well inside the usual 255-byte limit, whatever a stored name holds.
constexpr std::size_t maxBaseNameBytes = 180;

MediaTime mediaTime(double seconds) {
    MediaTime t = MediaTime::fromSeconds(seconds, timescale);
    return t.isValid() ? t : MediaTime::zero();
}

bool hasVideo(const RetouchBuilder::Source& s) {
    return s.video.has_value();
}

double soundOffset(const RetouchEdit& edit, const std::string& camera) {
    auto it = edit.soundOffsets.find(camera);
    return it == edit.soundOffsets.end() || !std::isfinite(it->second) ? 0.0 : it->second;
}

float volume(const RetouchEdit& edit, const std::string& camera) {
    auto it = edit.volumes.find(camera);
    return it == edit.volumes.end() ? 1.0f : it->second;
}

// Places the part of [a, b] (take time) that the source's sound covers, shifted by its camera's sound offset.
void placeSound(ProgramRenderer::Composition& composition, int track, int asset, const RetouchBuilder::Source& s,
                double a, double b, const RetouchEdit& edit) {
    if (!s.audio) return;
    const double so = soundOffset(edit, s.clip.camera);
    const double start = std::max(a, s.offset + so);
    const double end = std::min(b, s.offset + so + s.audioDuration);
    if (!(end > start + sliver)) return;
    MediaTime sourceStart = mediaTime(start - s.offset - so);
    if (sourceStart.value < 0) sourceStart.value = 0;
    // A refused sound segment leaves that stretch silent.
    composition.insertTimeRange(track, asset, s.audio->streamIndex, sourceStart, mediaTime(end - start),
                                mediaTime(edit.programTime(start)));
}

std::string twoDigits(std::int64_t number) {
    char text[32];
    std::snprintf(text, sizeof text, "%02lld", static_cast<long long>(number));
    return text;
}

// Keeps whole UTF-8 sequences only, up to `limit` bytes.
std::string cutUtf8(const std::string& text, std::size_t limit) {
    if (text.size() <= limit) return text;
    std::size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}

}  // namespace

// MARK: Loading

RetouchBuilder::Program RetouchBuilder::build(const RetouchTake& take, const RetouchEdit& edit) {
    return build(take, edit, RetouchLibrary::shared().directory());
}

RetouchBuilder::Program RetouchBuilder::build(const RetouchTake& take, const RetouchEdit& edit,
                                              const fs::path& directory) {
    const auto sources = loadSources(take, directory);
    if (std::none_of(sources.begin(), sources.end(), hasVideo)) throw Error(Failure::noVideo);
    return assembleComposition(sources, frameDuration(sources), edit, take);
}

std::vector<RetouchBuilder::Source> RetouchBuilder::loadSources(const RetouchTake& take, const fs::path& directory) {
    std::vector<Source> sources;
    const Date takeStart = take.start();
    for (const auto& clip : take.clips) {
        Source s;
        s.clip = clip;
        // Only a plain file name inside the library folder is ever opened.
        s.asset = directory / (RetouchLibrary::isPlainFileName(clip.file) ? clip.file : std::string(".missing"));
        s.offset = clip.start.timeIntervalSince(takeStart);
        s.duration = clip.duration;
        if (auto probe = AssetProbe::load(s.asset)) {
            if (const auto* v = probe->firstTrack(AssetProbe::Kind::video)) s.video = *v;
            if (const auto* a = probe->firstTrack(AssetProbe::Kind::audio)) s.audio = *a;
        }
        if (s.video && s.video->timeRange) s.duration = s.video->timeRange->end();
        s.audioDuration = s.duration;
        if (s.audio && s.audio->timeRange) s.audioDuration = s.audio->timeRange->end();
        if (s.video) {
            s.transform = s.video->transform;
            const auto r =
                s.transform.apply(AffineTransform::Rect{0, 0, double(s.video->width), double(s.video->height)});
            s.width = std::fabs(r.width);
            s.height = std::fabs(r.height);
        }
        sources.push_back(std::move(s));
    }
    return sources;
}

MediaTime RetouchBuilder::frameDuration(const std::vector<Source>& sources) {
    const MediaTime fallback{1, 30};
    auto reference = std::find_if(sources.begin(), sources.end(), hasVideo);
    if (reference == sources.end()) return fallback;
    const auto& fd = reference->video->minFrameDuration;
    if (fd && fd->isValid() && fd->seconds() > 0.001) return *fd;
    return fallback;
}

AffineTransform RetouchBuilder::aspectFitTransform(const Source& source, double renderWidth, double renderHeight) {
    const AffineTransform t = source.transform;
    if (!source.video) return t;
    const double w = source.width, h = source.height;
    const double s = std::min(renderWidth / w, renderHeight / h);
    const auto r = t.apply(AffineTransform::Rect{0, 0, double(source.video->width), double(source.video->height)});
    return t.concatenating(AffineTransform::translation(-r.minX(), -r.minY()))
        .concatenating(AffineTransform::scale(s, s))
        .concatenating(AffineTransform::translation((renderWidth - w * s) * 0.5, (renderHeight - h * s) * 0.5));
}

// MARK: Composition

RetouchBuilder::Program RetouchBuilder::assembleComposition(const std::vector<Source>& sources, MediaTime frameDuration,
                                                            const RetouchEdit& edit, const RetouchTake& take) {
    using Kind = ProgramRenderer::MediaKind;
    Program program;
    for (const auto& s : sources) program.assets.push_back(s.asset);

    // Landscape unless portrait sources are more than half.
    const auto portrait =
        std::count_if(sources.begin(), sources.end(), [](const Source& s) { return s.height > s.width; });
    const bool tall = std::int64_t(sources.size()) < 2 * portrait;
    const double renderWidth = tall ? 1080 : 1920, renderHeight = tall ? 1920 : 1080;

    auto& composition = program.composition;
    const int pictureTrack = composition.addTrack(Kind::video);
    ProgramRenderer::LayerInstruction layer;
    layer.trackID = pictureTrack;

    // Picture: the pieces one after another, each filled from its camera, else from any camera, else empty.
    double position = 0;
    for (const auto& piece : edit.pieces()) {
        if (!(piece.end - sliver > piece.start)) continue;
        double t = piece.start;
        for (int guard = 0; t < piece.end - sliver && guard < 100000; ++guard) {
            auto covers = [&](const Source& s) {
                return s.video && s.offset - sliver <= t && t < s.offset + s.duration - sliver;
            };
            const Source* found = nullptr;
            int index = -1;
            for (std::size_t i = 0; i < sources.size() && !found; ++i) {
                if (sources[i].clip.camera == piece.camera && covers(sources[i])) found = &sources[index = int(i)];
            }
            for (std::size_t i = 0; i < sources.size() && !found; ++i) {
                if (covers(sources[i])) found = &sources[index = int(i)];
            }
            if (found) {
                double segmentEnd = std::min(found->offset + found->duration, piece.end);
                if (found->clip.camera != piece.camera) {
                    // The piece's own camera takes over as soon as its next clip begins.
                    for (const auto& s : sources) {
                        if (s.video && s.clip.camera == piece.camera && s.offset > t)
                            segmentEnd = std::min(segmentEnd, s.offset);
                    }
                }
                MediaTime sourceStart = mediaTime(t - found->offset);
                if (sourceStart.value < 0) sourceStart.value = 0;  // a start just before the clip's first frame
                std::string error;
                if (!composition.insertTimeRange(pictureTrack, index, found->video->streamIndex, sourceStart,
                                                 mediaTime(segmentEnd - t), mediaTime(position), &error)) {
                    throw std::runtime_error("Couldn't place a picture segment: " + error);
                }
                layer.setTransform(aspectFitTransform(*found, renderWidth, renderHeight), mediaTime(position));
                position += segmentEnd - t;
                t = segmentEnd;
            } else {
                double gapEnd = piece.end;
                for (const auto& s : sources) {
                    if (s.video && s.offset > t) gapEnd = std::min(gapEnd, s.offset);
                }
                composition.insertEmptyTimeRange(mediaTime(position), mediaTime(gapEnd - t));
                position += gapEnd - t;
                t = gapEnd;
            }
        }
    }

    // Sound, placed by program time after the picture so that no sound track gets the picture's gaps.
    std::vector<ProgramRenderer::AudioMix::InputParameters> inputs;
    if (edit.sound.is<RetouchEdit::Sound::FollowPicture>()) {
        const int track = composition.addTrack(Kind::audio);
        for (const auto& piece : edit.pieces()) {
            for (std::size_t i = 0; i < sources.size(); ++i) {
                if (sources[i].clip.camera != piece.camera) continue;
                placeSound(composition, track, int(i), sources[i], piece.start, piece.end, edit);
                break;
            }
        }
    } else if (edit.sound.is<RetouchEdit::Sound::Mix>()) {
        for (std::size_t i = 0; i < sources.size(); ++i) {
            const int track = composition.addTrack(Kind::audio);
            for (const auto& range : edit.keptRanges()) {
                placeSound(composition, track, int(i), sources[i], range.start, range.end, edit);
            }
            inputs.push_back({track, volume(edit, sources[i].clip.camera)});
        }
    } else {
        std::string camera;
        if (const auto& name = edit.sound.as<RetouchEdit::Sound::Camera>()->name) {
            camera = *name;
        } else if (const auto cameras = take.cameras(); !cameras.empty()) {
            camera = cameras.front();
        }
        for (std::size_t i = 0; i < sources.size(); ++i) {
            if (sources[i].clip.camera != camera) continue;
            const int track = composition.addTrack(Kind::audio);
            for (const auto& range : edit.keptRanges()) {
                placeSound(composition, track, int(i), sources[i], range.start, range.end, edit);
            }
            inputs.push_back({track, volume(edit, camera)});
            break;
        }
    }

    ProgramRenderer::Instruction instruction;
    instruction.start = MediaTime::zero();
    instruction.duration = mediaTime(composition.track(pictureTrack)->duration());
    instruction.layers.push_back(std::move(layer));
    program.videoComposition.renderWidth = renderWidth;
    program.videoComposition.renderHeight = renderHeight;
    program.videoComposition.frameDuration = frameDuration;
    program.videoComposition.instructions.push_back(std::move(instruction));
    if (!inputs.empty()) program.audioMix = ProgramRenderer::AudioMix{std::move(inputs)};
    return program;
}

// MARK: Export

RetouchBuilder::ExportOptions RetouchBuilder::defaultExportOptions() {
    ExportOptions options;
    options.programFolder = RetouchLibrary::programFolderPath();
    options.picturesFolder = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation).toStdString();
    if (options.picturesFolder.empty()) options.picturesFolder = PhotoLibrary::defaultPicturesFolder();
    return options;
}

std::string RetouchBuilder::programFileName(const RetouchTake& take) {
    std::string base;
    if (take.name) {
        for (char c : *take.name) {
            const auto u = static_cast<unsigned char>(c);
            if (u < 0x20 || u == 0x7F) continue;  // control characters never reach a file name
            base += c == '/' ? '-' : (c == ':' ? '.' : c);
        }
        base = cutUtf8(base, maxBaseNameBytes);
    }
    if (base.empty()) base = "Take " + twoDigits(take.number);

    const double unix = take.start().unixSeconds();
    const auto seconds = static_cast<std::time_t>(std::floor(std::clamp(unix, -6.0e13, 6.0e13)));
    std::tm local{};
    char date[64] = "";
    if (localtime_r(&seconds, &local)) std::strftime(date, sizeof date, "%Y-%m-%d %H.%M", &local);
    return base + " \u2013 Program \u2013 " + date + ".mov";
}

fs::path RetouchBuilder::exportProgram(const Program& program, const RetouchTake& take,
                                       const std::function<void(float)>& progress, const ExportOptions& options) {
    const ProgramRenderer::Track* picture = nullptr;
    for (const auto& t : program.composition.tracks) {
        if (t.kind == ProgramRenderer::MediaKind::video) {
            picture = &t;
            break;
        }
    }
    if (!picture || !(picture->duration() > 0)) throw Error(Failure::noVideo);

    std::error_code ec;
    fs::create_directories(options.programFolder, ec);
    const fs::path file = options.programFolder / programFileName(take);
    // Written beside the target and moved over it only when complete: a failed export keeps the earlier movie.
    MovieExport::run(program, file, options.settings, progress);
    PhotoLibrary(options.picturesFolder).addVideo(file);
    return file;
}

// MARK: Asynchronous entries

namespace {

// Runs `deliver` on the main thread when `context` still exists.
void onMain(QPointer<QObject> context, std::function<void()> deliver) {
    QObject* app = QCoreApplication::instance();
    if (!app) return;
    QMetaObject::invokeMethod(
        app,
        [context, deliver = std::move(deliver)] {
            if (context) deliver();
        },
        Qt::QueuedConnection);
}

}  // namespace

void RetouchBuilder::buildAsync(RetouchTake take, RetouchEdit edit, QObject* context, BuildCompletion completion) {
    // Resolved here, on the caller's thread, so that the worker never makes the shared library.
    fs::path directory = RetouchLibrary::shared().directory();
    QPointer<QObject> guard(context);
    QThreadPool::globalInstance()->start([take = std::move(take), edit = std::move(edit), directory, guard,
                                          completion = std::move(completion)]() mutable {
        std::optional<Program> program;
        std::exception_ptr error;
        try {
            program = build(take, edit, directory);
        } catch (...) {
            error = std::current_exception();
        }
        onMain(guard, [completion = std::move(completion), program = std::move(program), error]() mutable {
            completion(std::move(program), error);
        });
    });
}

void RetouchBuilder::exportAsync(Program program, RetouchTake take, ExportOptions options, QObject* context,
                                 std::function<void(float)> progress, ExportCompletion completion) {
    auto fraction = std::make_shared<std::atomic<float>>(0.0f);
    QPointer<QObject> guard(context);
    // The poller lives on the main thread: progress goes out at once and then every 0.2 s.
    QPointer<QTimer> poller = new QTimer(context);
    poller->setInterval(200);
    QObject::connect(poller, &QTimer::timeout, context, [fraction, progress] { progress(fraction->load()); });
    poller->start();
    QTimer::singleShot(0, poller, [fraction, progress] { progress(fraction->load()); });

    QThreadPool::globalInstance()->start([program = std::move(program), take = std::move(take),
                                          options = std::move(options), fraction, guard, poller,
                                          completion = std::move(completion)]() mutable {
        std::optional<fs::path> file;
        std::exception_ptr error;
        try {
            file = exportProgram(
                program, take, [fraction](float f) { fraction->store(f); }, options);
        } catch (...) {
            error = std::current_exception();
        }
        onMain(guard, [poller, completion = std::move(completion), file = std::move(file), error]() mutable {
            if (poller) {
                poller->stop();
                poller->deleteLater();
            }
            completion(std::move(file), error);
        });
    });
}

}  // namespace morvane
