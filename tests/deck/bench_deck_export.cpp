// Export speed of a two-camera 1080p take, to be timed against the ffmpeg tool making the same cut.
//
//   bench_deck_export prepare DIR      makes the two camera movies in DIR and prints the ffmpeg command of the cut
//   bench_deck_export run DIR PRESET   exports the take's program once with that libx265 preset
//
// Both sides use libx265 with the same preset and CRF, log level "error", and AAC at 192 kb/s.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "deck/retouch_builder.h"
#include "media_fixtures.h"

using namespace morvane;
namespace fs = std::filesystem;

namespace {

constexpr double seconds = 8;
constexpr int crf = 20;
// Camera A from 0, B from 2, A from 4, B from 6.
const double cuts[] = {0, 2, 4, 6};

RetouchTake benchTake() {
    RetouchTake take;
    take.number = 1;
    for (const char* camera : {"A", "B"}) {
        RetouchClip clip;
        clip.camera = camera;
        clip.file = std::string(camera) + ".mov";
        clip.start = Date{760000000.0};
        clip.duration = seconds;
        take.clips.push_back(clip);
    }
    return take;
}

std::string ffmpegCommand(const fs::path& dir, const std::string& preset) {
    std::string filter;
    std::string concat;
    for (int i = 0; i < 4; ++i) {
        const int input = i % 2;
        const double from = cuts[i], to = i + 1 < 4 ? cuts[i + 1] : seconds;
        char part[256];
        std::snprintf(part, sizeof part,
                      "[%d:v]trim=%g:%g,setpts=PTS-STARTPTS[v%d];[%d:a]atrim=%g:%g,asetpts=PTS-STARTPTS[a%d];", input,
                      from, to, i, input, from, to, i);
        filter += part;
        concat += "[v" + std::to_string(i) + "][a" + std::to_string(i) + "]";
    }
    filter += concat + "concat=n=4:v=1:a=1[v][a]";
    return "ffmpeg -v error -y -i " + (dir / "A.mov").string() + " -i " + (dir / "B.mov").string() +
           " -filter_complex '" + filter + "' -map '[v]' -map '[a]' -c:v libx265 -preset " + preset + " -crf " +
           std::to_string(crf) +
           " -x265-params log-level=error -pix_fmt yuv420p -tag:v hvc1 -c:a aac -b:a 192k -ar 48000 -ac 2 " +
           (dir / "ffmpeg-out.mov").string();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s prepare DIR | run DIR PRESET\n", argv[0]);
        return 2;
    }
    const std::string mode = argv[1];
    const fs::path dir = fs::absolute(argv[2]);
    if (mode == "prepare") {
        fs::create_directories(dir);
        // Moving test pictures with sensor noise and the recorder's key frame a second, so that decoding and
        // encoding do the work a camera's movies ask for.
        fixtures::Clip a{"", 440, seconds, 1920, 1080, 30};
        a.pattern = "testsrc2";
        a.keyFrameInterval = 30;
        a.noise = 12;
        fixtures::Clip b = a;
        b.tone = 660;
        b.pattern = "testsrc";
        if (!fixtures::makeClip(dir / "A.mov", a) || !fixtures::makeClip(dir / "B.mov", b)) return 1;
        std::printf("%s\n", ffmpegCommand(dir, "PRESET").c_str());
        return 0;
    }
    if (mode != "run" || argc < 4) return 2;
    RetouchTake take = benchTake();
    RetouchEdit edit;
    for (double t : cuts) edit.switches.push_back({Uuid(), t, int(t / 2) % 2 ? "B" : "A"});
    edit.trimEnd = seconds;
    edit.sound = RetouchEdit::Sound::followPicture();
    RetouchBuilder::ExportOptions options;
    options.programFolder = dir / "program";
    options.picturesFolder = dir / "pictures";
    options.settings.preset = argv[3];
    options.settings.crf = crf;
    if (argc > 4) options.settings.x265Params = argv[4];  // for looking into the encoder's set-up
    try {
        auto program = RetouchBuilder::build(take, edit, dir);
        const auto file = RetouchBuilder::exportProgram(program, take, {}, options);
        fs::remove_all(options.picturesFolder);
        std::printf("%s\n", file.c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "export failed: %s\n", e.what());
        return 1;
    }
    return 0;
}
