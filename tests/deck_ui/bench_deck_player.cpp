// Benchmark of the deck editor's preview player on a three-camera 1080p take at 30 frames a second: time from play
// to the first new picture, pictures shown per second while playing, and the latency of exact seeks. The movies are
// like the recorder's (moving detail with sensor noise, a key frame a second) and the sound output holds a tenth of
// a second ahead of the ear, as the real one does.
//
// Run by hand, for instance on two cores of an otherwise idle machine:
//   taskset -c 0,1 build/bench/tests/deck_ui/bench_deck_player [seconds of play, default 6]
// Prints one JSON object.

#include <QApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <random>

#include "deck/retouch_builder.h"
#include "deck_ui/player/program_player.h"
#include "editor_support.h"
#include "player_support.h"
#include "temp_dir.h"

using namespace morvane;
using namespace morvane::test;

namespace {

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5)];
}

double median(const std::vector<double>& v) {
    return percentile(v, 0.5);
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const double playSeconds = argc > 1 ? std::max(1.0, std::atof(argv[1])) : 6.0;

    TempDir temp;
    RetouchLibrary library(temp / "Retouch", temp / "Program");
    const Date start{760000000.0};
    RetouchTake take;
    take.number = 1;
    const char* cameras[] = {"Alpha", "Bravo", "Charlie"};
    const double tones[] = {440, 660, 880};
    for (int i = 0; i < 3; ++i) {
        RetouchClip clip;
        clip.camera = cameras[i];
        clip.file = clip.id.uuidString() + ".mov";
        clip.start = start;
        clip.duration = 12;
        fixtures::Clip movie;
        movie.pattern = "testsrc2";
        movie.tone = tones[i];
        movie.seconds = 12;
        movie.width = 1920;
        movie.height = 1080;
        movie.rate = 30;
        movie.keyFrameInterval = 30;  // the recorder's: one a second
        movie.noise = 12;
        if (!fixtures::makeClip(library.directory() / clip.file, movie)) {
            std::fprintf(stderr, "ffmpeg could not make the source movies\n");
            return 1;
        }
        take.clips.push_back(clip);
    }
    take.cuts = {{"Alpha", start},
                 {"Bravo", start.addingTimeInterval(3)},
                 {"Charlie", start.addingTimeInterval(6)},
                 {"Alpha", start.addingTimeInterval(9)}};
    auto edit = RetouchEdit::editFromLiveCut(take);
    edit.sound = RetouchEdit::Sound::followPicture();
    const auto program = RetouchBuilder::build(take, edit, library.directory());

    auto samples = std::make_shared<std::vector<float>>();
    ProgramPlayer player(std::make_unique<CapturingSoundOutput>(samples, 0.1));
    player.setPictureLimit(QSize(960, 540));  // the editor's preview at a usual window size
    player.replaceCurrentItem(program);

    auto seekAndWait = [&](double t) {
        bool done = false;
        QElapsedTimer timer;
        timer.start();
        player.seek(t, [&](bool finished) { done = finished; });
        waitFor([&] { return done; }, 30);
        return timer.nsecsElapsed() / 1e6;
    };
    seekAndWait(0.5);

    // Play to first picture.
    std::vector<double> firstPicture;
    for (int run = 0; run < 5; ++run) {
        seekAndWait(0.5 + run);
        const auto shown = player.framesShown();
        QElapsedTimer timer;
        timer.start();
        player.play();
        waitFor([&] { return player.framesShown() > shown; }, 10);
        firstPicture.push_back(timer.nsecsElapsed() / 1e6);
        player.pause();
    }

    // Pictures per second while playing.
    seekAndWait(0.0);
    const auto shownBefore = player.framesShown();
    QElapsedTimer playTimer;
    playTimer.start();
    player.play();
    waitFor([&] { return playTimer.elapsed() >= playSeconds * 1000 || player.rate() == 0; }, playSeconds + 5);
    const double elapsed = playTimer.nsecsElapsed() / 1e9;
    const double programAdvance = player.currentTime();
    player.pause();
    const double framesPerSecond = double(player.framesShown() - shownBefore) / elapsed;

    // Exact seeks to random times.
    std::mt19937 random(7);
    std::uniform_real_distribution<double> anywhere(0.0, program.composition.duration() - 0.1);
    std::vector<double> seeks;
    for (int i = 0; i < 30; ++i) seeks.push_back(seekAndWait(anywhere(random)));

    std::printf(
        "{\"source\": \"3 cameras, 1920x1080, 30 fps, H.264\", \"preview\": \"960x540\", "
        "\"playToFirstPictureMs\": {\"median\": %.1f, \"max\": %.1f}, "
        "\"playedSeconds\": %.2f, \"programSecondsAdvanced\": %.2f, \"picturesPerSecond\": %.1f, "
        "\"seekMs\": {\"median\": %.1f, \"p10\": %.1f, \"p90\": %.1f, \"max\": %.1f}, \"soundSamples\": %zu}\n",
        median(firstPicture), *std::max_element(firstPicture.begin(), firstPicture.end()), elapsed, programAdvance,
        framesPerSecond, median(seeks), percentile(seeks, 0.1), percentile(seeks, 0.9),
        *std::max_element(seeks.begin(), seeks.end()), samples->size());
    return 0;
}
