// The preview's sound through Qt Multimedia's audio sink, on the PulseAudio server that the test's wrapper starts.

#include <gtest/gtest.h>

#include <cmath>

#include "deck/retouch_builder.h"
#include "deck_ui/player/program_player.h"
#include "deck_ui/player/sound_output.h"
#include "editor_support.h"
#include "player_support.h"
#include "temp_dir.h"

using namespace morvane;
using namespace morvane::test;

TEST(QtSoundOutput, TheSinkPullsTheFeedAtThePaceOfPlaying) {
    SoundFeed feed(ProgramRenderer::sampleRate);
    std::vector<float> tone(std::size_t(ProgramRenderer::sampleRate) * 2);
    for (std::size_t i = 0; i < tone.size() / 2; ++i) {
        tone[i * 2] = tone[i * 2 + 1] = float(0.2 * std::sin(2 * M_PI * 440 * double(i) / ProgramRenderer::sampleRate));
    }
    ASSERT_EQ(feed.write(tone.data(), tone.size() / 2), std::size_t(ProgramRenderer::sampleRate));

    QtSoundOutput output;
    ASSERT_TRUE(output.start(feed)) << "a sound device is there";
    EXPECT_GT(output.latency(), 0.0);
    EXPECT_LT(output.latency(), 0.5);
    ASSERT_TRUE(waitFor([&] { return feed.framesRead() >= ProgramRenderer::sampleRate / 4; }));
    // A device plays in real time: one second of sound is not all taken at once.
    EXPECT_LT(feed.framesRead(), ProgramRenderer::sampleRate);
    output.stop();
    const auto taken = feed.framesRead();
    waitFor([] { return false; }, 0.2);
    EXPECT_EQ(feed.framesRead(), taken) << "a stopped output takes nothing more";
}

TEST(QtSoundOutput, ThePlayerPlaysItsSoundOnTheDevice) {
    TempDir temp;
    RetouchLibrary library(temp / "Retouch", temp / "Program");
    const auto take = makeTake(library, {{"Red", "red", 440}, {"Blue", "blue", 880}}, {{"Red", 0}, {"Blue", 2.0}});
    ASSERT_EQ(take.clips.size(), 2u);
    ProgramPlayer player;  // the default output: Qt Multimedia's sink
    player.replaceCurrentItem(RetouchBuilder::build(take, RetouchEdit::editFromLiveCut(take), library.directory()));
    bool sought = false;
    player.seek(2.5, [&](bool done) { sought = done; });
    ASSERT_TRUE(waitFor([&] { return sought; }));
    player.play();
    EXPECT_TRUE(player.soundRunning());
    ASSERT_TRUE(waitFor([&] { return player.rate() == 0; }));
    EXPECT_TRUE(waitFor([&] { return !player.soundRunning(); }, 2)) << "the sound stops with the picture at the end";
    EXPECT_DOUBLE_EQ(player.currentTime(), 4.0);
}
