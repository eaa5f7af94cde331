#pragma once

#include <QObject>

#include <exception>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "deck/retouch_edit.h"
#include "deck/retouch_take.h"
#include "platform/asset_probe.h"
#include "platform/movie_export.h"
#include "platform/program_renderer.h"

namespace morvane {

/// Turns the edit of a deck take into a program: one picture track of the pieces with hard cuts, sound laid
/// out by the edit's sound choice, a fit-to-frame transform per picture segment and a gain per sound track.
/// The program is a plain plan; `ProgramRenderer` plays it and `exportProgram` writes it as a movie.
class RetouchBuilder {
public:
    enum class Failure { noVideo };

    /// The builder's own error. `noVideo` reads "This take has no usable video".
    class Error : public std::runtime_error {
    public:
        explicit Error(Failure failure) : std::runtime_error(description(failure)), failure_(failure) {}
        Failure failure() const { return failure_; }
        static std::string description(Failure) { return "This take has no usable video"; }

    private:
        Failure failure_;
    };

    /// The composition, the source movies (one per clip, in clip order), the video composition and the
    /// optional audio mix.
    using Program = ProgramRenderer::Plan;

    /// One loaded clip.
    struct Source {
        RetouchClip clip;
        std::filesystem::path asset;
        double offset = 0;  ///< where the clip starts on the take's time line
        std::optional<AssetProbe::Track> video;
        std::optional<AssetProbe::Track> audio;
        AffineTransform transform;  ///< how the stored picture is turned
        double width = 1920;        ///< picture size after turning
        double height = 1080;
        double duration = 0;       ///< end of the picture's time range, seconds
        double audioDuration = 0;  ///< end of the sound's time range, seconds
    };

    /// Loads the take's clips from the shared library's folder and composes the edit. Throws `Error`
    /// (`noVideo`) when no clip has a picture, or std::runtime_error when a picture segment cannot be placed.
    static Program build(const RetouchTake& take, const RetouchEdit& edit);
    static Program build(const RetouchTake& take, const RetouchEdit& edit, const std::filesystem::path& directory);

    /// One Source per clip, in clip order; a clip whose file cannot be read gets one without tracks.
    static std::vector<Source> loadSources(const RetouchTake& take, const std::filesystem::path& directory);
    /// The first source's minimum frame duration when it is valid and longer than 0.001 s, else 1/30 s.
    static MediaTime frameDuration(const std::vector<Source>& sources);
    /// The second stage: lays the edit out over the loaded sources.
    static Program assembleComposition(const std::vector<Source>& sources, MediaTime frameDuration,
                                       const RetouchEdit& edit, const RetouchTake& take);
    /// Places a source's turned picture, as large as fits, in the middle of the render frame.
    static AffineTransform aspectFitTransform(const Source& source, double renderWidth, double renderHeight);

    struct ExportOptions {
        std::filesystem::path programFolder;   ///< where program movies are written
        std::filesystem::path picturesFolder;  ///< the user's pictures folder; the photo library lies inside
        MovieExport::Settings settings;
    };
    /// The Program folder of the take library and the user's pictures folder.
    static ExportOptions defaultExportOptions();

    /// The program movie's file name: the take's name (or "Take " and the number in two digits), " – Program – "
    /// and the take's start as "yyyy-MM-dd HH.mm" in local time, then ".mov".
    static std::string programFileName(const RetouchTake& take);

    /// Writes the program into the Program folder, then adds the movie to the photo library, and returns the
    /// movie's path. `progress` is called from the calling thread. A failed export leaves an earlier movie of
    /// the same name in place. Throws `Error` (`noVideo`) for a program without picture, `MovieExport::Error`
    /// when writing fails, and `PhotoLibrary::Error` when the photo library refuses the movie (which then stays
    /// in the Program folder).
    static std::filesystem::path exportProgram(const Program& program, const RetouchTake& take,
                                               const std::function<void(float)>& progress,
                                               const ExportOptions& options);

    using BuildCompletion = std::function<void(std::optional<Program>, std::exception_ptr)>;
    using ExportCompletion = std::function<void(std::optional<std::filesystem::path>, std::exception_ptr)>;

    /// Builds on a worker thread and calls `completion` on the main thread, unless `context` is gone by then.
    static void buildAsync(RetouchTake take, RetouchEdit edit, QObject* context, BuildCompletion completion);
    /// Exports on a worker thread. `progress` is called on the main thread at once and then every 0.2 s
    /// while the export runs (no final value is promised); `completion` once at the end, on the main thread.
    /// Nothing is called once `context` is gone; the export itself runs to its end.
    static void exportAsync(Program program, RetouchTake take, ExportOptions options, QObject* context,
                            std::function<void(float)> progress, ExportCompletion completion);
};

}  // namespace morvane
