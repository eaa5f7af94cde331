// The voice trigger: word settings, normalisation and matching on scripted transcripts with a controlled clock,
// re-arming, failures, and the four words spoken by espeak-ng into the running recogniser.

#include "remote/voice_trigger.h"

#include <QAudioDevice>
#include <QMediaDevices>

#include <gtest/gtest.h>

#include <thread>

#include "platform/defaults.h"
#include "platform/manual_executor.h"
#include "spoken_audio.h"
#include "temp_dir.h"

namespace morvane {
namespace {

using Result = SpeechRecognizer::Result;
using Error = SpeechRecognizer::Error;

std::shared_ptr<SpeechRecognizer> sharedRecognizer() {
    static auto recognizer = SpeechRecognizer::make("en-US");
    return recognizer;
}

struct VoiceTriggerTest : ::testing::Test {
    test::TempDir dir;
    Defaults defaults{dir / "defaults.json"};
    std::shared_ptr<ManualExecutor> main = std::make_shared<ManualExecutor>();
    int shutters = 0, marks = 0, records = 0, stops = 0;
    std::vector<std::string> heard, issues;

    VoiceTrigger::Environment environment() {
        VoiceTrigger::Environment env;
        env.defaults = &defaults;
        env.mainQueue = main;
        env.makeRecognizer = [](const std::string& locale) { return locale == "en-US" ? sharedRecognizer() : nullptr; };
        env.currentLocale = [] { return std::string("de-CH"); };
        env.now = [m = main.get()] { return m->now(); };
        return env;
    }

    std::shared_ptr<VoiceTrigger> make(VoiceTrigger::Environment env) {
        auto trigger = VoiceTrigger::make(std::move(env));
        trigger->onTrigger = [this] { ++shutters; };
        trigger->onMark = [this] { ++marks; };
        trigger->onRecord = [this] { ++records; };
        trigger->onStop = [this] { ++stops; };
        trigger->onHeard = [this](const std::string& words) { heard.push_back(words); };
        trigger->onIssue = [this](const std::string& message) { issues.push_back(message); };
        return trigger;
    }
    std::shared_ptr<VoiceTrigger> make() { return make(environment()); }

    static Result partial(std::string text) { return Result{std::move(text), false, {}}; }
    static Result final(std::string text) { return Result{std::move(text), true, {}}; }
};

TEST(VoiceWords, NormalisationAndWholeWordMatching) {
    EXPECT_EQ(VoiceTrigger::normaliseSpeech("Action!"), "action");
    EXPECT_EQ(VoiceTrigger::normaliseSpeech("  ÉCLAIR,  Über-Strasse 42 "), "eclair uber strasse 42");
    EXPECT_EQ(VoiceTrigger::normaliseSpeech("don't"), "don t");
    EXPECT_EQ(VoiceTrigger::normaliseSpeech("!!"), "");
    EXPECT_TRUE(VoiceTrigger::matches("Action!", "Okay, ACTION."));
    EXPECT_TRUE(VoiceTrigger::matches("mark it", "we mark it now"));
    EXPECT_FALSE(VoiceTrigger::matches("mark it", "it mark"));
    EXPECT_FALSE(VoiceTrigger::matches("cut", "cutting"));
    EXPECT_FALSE(VoiceTrigger::matches("cut", "a haircut"));
    EXPECT_TRUE(VoiceTrigger::matches("cut", "cut"));
    EXPECT_FALSE(VoiceTrigger::matches("", "anything"));
    EXPECT_FALSE(VoiceTrigger::matches("!", "!"));
    EXPECT_TRUE(VoiceTrigger::matches("Crème", "la creme brulee"));
}

TEST_F(VoiceTriggerTest, SavingWordsKeepsLettersSpacesAndApostrophes) {
    VoiceTrigger::saveWord("  Hello, World 2!  ", VoiceTrigger::markKey, &defaults);
    EXPECT_EQ(defaults.stringValue(VoiceTrigger::markKey, ""), "Hello World");
    VoiceTrigger::saveShutterWord("Smile, please!", &defaults);
    EXPECT_EQ(VoiceTrigger::storedWord(VoiceTrigger::shutterKey, &defaults), "Smile please");
    VoiceTrigger::quotedKeywords("  don't  ", VoiceTrigger::stopKey, &defaults);
    EXPECT_EQ(VoiceTrigger::storedWord(VoiceTrigger::stopKey, &defaults), "don't");
    VoiceTrigger::quotedKeywords(std::string(40, 'a'), VoiceTrigger::recordKey, &defaults);
    EXPECT_EQ(VoiceTrigger::storedWord(VoiceTrigger::recordKey, &defaults), std::string(30, 'a'));
    VoiceTrigger::saveWord("Café Ω", VoiceTrigger::recordKey, &defaults);
    EXPECT_EQ(VoiceTrigger::storedWord(VoiceTrigger::recordKey, &defaults), "Café Ω");
    // Nothing left: the key goes and its default applies again.
    VoiceTrigger::saveWord("123", VoiceTrigger::markKey, &defaults);
    EXPECT_FALSE(defaults.contains(VoiceTrigger::markKey));
    EXPECT_EQ(VoiceTrigger::storedWord(VoiceTrigger::markKey, &defaults), "mark");
    VoiceTrigger::quotedKeyword("   ", &defaults);
    EXPECT_EQ(VoiceTrigger::storedWord(VoiceTrigger::shutterKey, &defaults), "pemble");
}

TEST_F(VoiceTriggerTest, MessagesUseTheStoredWordsAsTyped) {
    EXPECT_EQ(VoiceTrigger::listeningMessage(&defaults), "Listening for: pemble · action · cut · mark");
    defaults.set(VoiceTrigger::recordKey, "Roll it");
    EXPECT_EQ(VoiceTrigger::heardMessage(VoiceTrigger::recordKey, &defaults), "Heard “Roll it”");
    EXPECT_EQ(VoiceTrigger::listeningMessage(&defaults), "Listening for: pemble · Roll it · cut · mark");
}

TEST_F(VoiceTriggerTest, WordsAreReadAndNormalisedWhenMade) {
    defaults.set(VoiceTrigger::recordKey, "Action!");
    defaults.set(VoiceTrigger::markKey, "Mark it");
    auto trigger = make();
    EXPECT_EQ(trigger->keyword(), "pemble");
    EXPECT_EQ(trigger->recordKeyword(), "action");
    EXPECT_EQ(trigger->markKeyword(), "mark it");
    EXPECT_EQ(trigger->stopKeyword(), "cut");
    // A later change applies to the next trigger only.
    defaults.set(VoiceTrigger::stopKey, "halt");
    EXPECT_EQ(trigger->stopKeyword(), "cut");
    EXPECT_EQ(make()->stopKeyword(), "halt");
}

TEST_F(VoiceTriggerTest, FirstMatchingWordFiresAndRecognitionStartsAfresh) {
    defaults.set(VoiceTrigger::markKey, "mark it");
    auto trigger = make();
    ASSERT_TRUE(trigger->start(VoiceTrigger::Source::captureSamples));
    EXPECT_TRUE(issues.empty());
    auto g = trigger->generation();

    trigger->handleResult(partial("okay ACTION."), std::nullopt, g);
    EXPECT_EQ(records, 1);
    EXPECT_EQ(trigger->generation(), g + 1);  // restarted at once
    ASSERT_FALSE(heard.empty());
    EXPECT_EQ(heard.back(), "okay ACTION.");

    // Results of the old recognition are ignored.
    trigger->handleResult(partial("cut"), std::nullopt, g);
    EXPECT_EQ(stops, 0);

    // Shutter before start before stop before marker, whatever the order heard.
    main->advance(2);
    g = trigger->generation();
    trigger->handleResult(partial("action pemble cut"), std::nullopt, g);
    EXPECT_EQ(shutters, 1);
    EXPECT_EQ(records, 1);

    // Within 1.5 s of the last word everything is swallowed, but recognition still restarts.
    main->advance(1.4);
    g = trigger->generation();
    trigger->handleResult(partial("cut"), std::nullopt, g);
    EXPECT_EQ(stops, 0);
    EXPECT_EQ(trigger->generation(), g + 1);
    main->advance(0.2);  // 1.6 s after the shutter word; the swallowed word did not restart the window
    trigger->handleResult(partial("cut"), std::nullopt, trigger->generation());
    EXPECT_EQ(stops, 1);

    // Several words in a row, heard consecutively only.
    main->advance(2);
    trigger->handleResult(partial("it mark"), std::nullopt, trigger->generation());
    EXPECT_EQ(marks, 0);
    trigger->handleResult(partial("now mark it"), std::nullopt, trigger->generation());
    EXPECT_EQ(marks, 1);

    // The last five words heard.
    trigger->handleResult(partial("one two  three four five six seven"), std::nullopt, trigger->generation());
    EXPECT_EQ(heard.back(), "three four five six seven");
    trigger->stop();
    EXPECT_FALSE(trigger->isRunning());
}

TEST_F(VoiceTriggerTest, UnsetCallbacksLetLaterWordsThrough) {
    auto trigger = make();
    trigger->onRecord = nullptr;
    ASSERT_TRUE(trigger->start(VoiceTrigger::Source::captureSamples));
    trigger->handleResult(partial("action cut"), std::nullopt, trigger->generation());
    EXPECT_EQ(stops, 1);
    trigger->stop();
}

TEST_F(VoiceTriggerTest, RearmsAfterFinalResultsAndErrorsButNotPartials) {
    auto trigger = make();
    ASSERT_TRUE(trigger->start(VoiceTrigger::Source::captureSamples));
    auto g = trigger->generation();
    trigger->handleResult(partial("hello"), std::nullopt, g);
    main->advance(1);
    EXPECT_EQ(trigger->generation(), g);

    trigger->handleResult(final("hello"), std::nullopt, g);
    main->advance(0.04);
    EXPECT_EQ(trigger->generation(), g);
    main->advance(0.02);
    EXPECT_EQ(trigger->generation(), g + 1);

    g = trigger->generation();
    trigger->handleResult(std::nullopt, Error{Error::decodingFailed, "Recognition failed"}, g);
    main->advance(0.45);
    EXPECT_EQ(trigger->generation(), g);
    main->advance(0.1);
    EXPECT_EQ(trigger->generation(), g + 1);
    EXPECT_TRUE(issues.empty());
    EXPECT_TRUE(trigger->isRunning());

    // A re-arm of an older recognition does nothing once something else restarted it.
    g = trigger->generation();
    trigger->handleResult(final(""), std::nullopt, g);
    trigger->handleResult(partial("cut"), std::nullopt, g);  // fires and restarts at once
    const auto after = trigger->generation();
    main->advance(1);
    EXPECT_EQ(trigger->generation(), after);
    trigger->stop();
    // Nothing restarts a stopped trigger.
    main->advance(1);
    EXPECT_FALSE(trigger->isRunning());
}

TEST_F(VoiceTriggerTest, DictationErrorsStopListening) {
    for (const Error& error : {Error{201, "whatever"}, Error{7, "Siri and DICTATION are disabled"}}) {
        auto trigger = make();
        ASSERT_TRUE(trigger->start(VoiceTrigger::Source::captureSamples));
        issues.clear();
        trigger->handleResult(std::nullopt, error, trigger->generation());
        EXPECT_FALSE(trigger->isRunning());
        ASSERT_EQ(issues.size(), 1u);
        EXPECT_EQ(issues[0], VoiceTrigger::dictationMessage);
        const auto g = trigger->generation();
        main->advance(1);
        EXPECT_EQ(trigger->generation(), g);
    }
}

TEST_F(VoiceTriggerTest, RecognisersAndTheirLanguage) {
    // The current locale (de-CH) has none; US English stands in.
    EXPECT_EQ(VoiceTrigger::supportedLanguageName(environment()), "English (United States)");
    EXPECT_EQ(VoiceTrigger::isSupported(environment()), "English (United States)");
    auto none = environment();
    none.makeRecognizer = [](const std::string&) { return std::shared_ptr<SpeechRecognizer>(); };
    EXPECT_FALSE(VoiceTrigger::supportedLanguageName(none));
    EXPECT_FALSE(VoiceTrigger::recognizerLocale(none));
    auto trigger = make(none);
    EXPECT_FALSE(trigger->start(VoiceTrigger::Source::captureSamples));
    ASSERT_EQ(issues.size(), 1u);
    EXPECT_EQ(issues[0], VoiceTrigger::offlineModelMessage);
    EXPECT_FALSE(trigger->isRunning());
    // The real factory knows US English by its model.
    VoiceTrigger::Environment real;
    real.currentLocale = [] { return std::string("fr-FR"); };
    auto recognizer = VoiceTrigger::recognizerLocale(real);
    ASSERT_TRUE(recognizer);
    EXPECT_EQ(recognizer->locale(), "en-US");

    bool granted = false;
    VoiceTrigger::requestPermissions(
        true, [&](bool ok) { granted = ok; }, main);
    EXPECT_FALSE(granted);  // delivered on the main queue, not inline
    main->runPending();
    EXPECT_TRUE(granted);
}

TEST_F(VoiceTriggerTest, MicrophoneStartsOrSaysWhyNot) {
    // Why not says what to check: the microphone itself and the sound server.
    for (const char* what : {"plugged in", "muted", "sound server"})
        EXPECT_NE(std::string(VoiceTrigger::microphoneMessage).find(what), std::string::npos) << what;
    auto trigger = make();
    const bool hasInput = !QMediaDevices::defaultAudioInput().isNull();
    EXPECT_EQ(trigger->start(VoiceTrigger::Source::microphone), hasInput);
    if (hasInput) {
        EXPECT_TRUE(trigger->isRunning());
        EXPECT_TRUE(issues.empty());
    } else {
        EXPECT_FALSE(trigger->isRunning());
        ASSERT_EQ(issues.size(), 1u);
        EXPECT_EQ(issues[0], VoiceTrigger::microphoneMessage);
    }
    trigger->stop();
    trigger->stop();  // twice is harmless
}

/// Feeds spoken audio as a capture session would, in 20 ms buffers, then runs the main queue until `done`.
template <typename Pred>
bool feedAndWait(VoiceTrigger& trigger, ManualExecutor& main, const testing::SpokenAudio& audio, Pred done) {
    const std::size_t step = static_cast<std::size_t>(audio.sampleRate / 50);
    for (std::size_t at = 0; at < audio.samples.size(); at += step) {
        const auto n = std::min(step, audio.samples.size() - at);
        trigger.appendAudio(std::as_bytes(std::span(audio.samples).subspan(at, n)), audio.format());
    }
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(90);
    while (std::chrono::steady_clock::now() < end) {
        main.runPending();
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

TEST_F(VoiceTriggerTest, SpokenWordsFireTheirActions) {
    auto say = [&](const std::string& text, const std::string& voice) {
        auto audio = testing::speak(dir.path(), text, voice, 160);
        if (!audio) throw std::runtime_error("espeak-ng failed");
        testing::SpokenAudio clip{{}, audio->sampleRate};
        clip.appendSilence(0.5);
        clip.append(*audio);
        clip.appendSilence(0.5);
        return clip;
    };
    // Each clip on a fresh trigger: what a recogniser heard before must not decide the outcome of the next.
    // A sample of the voice-word measurements: words alone and inside sentences, in voices that suit the model.
    const struct {
        const char* text;
        const char* voice;
        int* counter;
        const char* lastHeard;
    } clips[] = {{"action", "en-us+f2", &records, "action"},
                 {"pemble", "en-us+f2", &shutters, "pemble"},
                 {"okay everybody action", "en-us+f2", &records, "action"},
                 {"mark right now please", "en-us+f2", &marks, nullptr}};
    auto freshRecognizer = [&] {
        auto env = environment();
        env.makeRecognizer = [](const std::string& locale) { return SpeechRecognizer::make(locale); };
        return make(env);
    };
    int expected = 0;
    for (const auto& c : clips) {
        SCOPED_TRACE(std::string(c.text) + " / " + c.voice);
        auto trigger = freshRecognizer();
        ASSERT_TRUE(trigger->start(VoiceTrigger::Source::captureSamples));
        const int before = *c.counter;
        ASSERT_TRUE(feedAndWait(*trigger, *main, say(c.text, c.voice), [&] { return *c.counter == before + 1; }));
        ++expected;
        // The Heard line: the last words of what was heard, the word among them.
        ASSERT_FALSE(heard.empty());
        if (c.lastHeard) {
            EXPECT_EQ(heard.back().substr(heard.back().rfind(' ') + 1), c.lastHeard) << heard.back();
        }
        trigger->stop();
        main->advance(2);
    }
    EXPECT_EQ(records + stops + marks + shutters, expected);

    // Said again within 1.5 s: heard, recognition restarts, nothing fires.
    auto trigger = freshRecognizer();
    ASSERT_TRUE(trigger->start(VoiceTrigger::Source::captureSamples));
    const int shuttersBefore = shutters;
    ASSERT_TRUE(
        feedAndWait(*trigger, *main, say("pemble", "en-us+f2"), [&] { return shutters == shuttersBefore + 1; }));
    const auto g = trigger->generation();
    ASSERT_TRUE(feedAndWait(*trigger, *main, say("pemble", "en-us+f2"), [&] { return trigger->generation() > g; }));
    EXPECT_EQ(shutters, shuttersBefore + 1);
    trigger->stop();
}

TEST_F(VoiceTriggerTest, SentencesWithoutTheWordsFireNothing) {
    testing::SpokenAudio talk;
    // Ordinary set talk, some of it close to the words.
    for (const char* sentence : {"sound speed", "we have speed", "okay", "reset", "check",
                                 "park the truck around the corner", "the cutting room will fix it"}) {
        auto audio = testing::speak(dir.path(), sentence, "en-us+f2", 160);
        ASSERT_TRUE(audio);
        if (talk.sampleRate == 0) {
            talk.sampleRate = audio->sampleRate;
            talk.appendSilence(0.5);
        }
        talk.append(*audio);
        talk.appendSilence(0.5);
    }
    // One recognition exactly as long as the talk: its final result shows that all of it was heard.
    auto env = environment();
    const double seconds = talk.seconds();
    env.makeRecognizer = [seconds](const std::string& locale) {
        SpeechRecognizer::Options options;
        options.maxTaskSeconds = seconds - 0.05;
        return locale == "en-US" ? SpeechRecognizer::make(locale, options) : nullptr;
    };
    auto trigger = make(env);
    ASSERT_TRUE(trigger->start(VoiceTrigger::Source::captureSamples));
    const auto g = trigger->generation();
    ASSERT_TRUE(feedAndWait(*trigger, *main, talk, [&] {
        main->advance(0.06);
        return trigger->generation() > g;
    }));
    EXPECT_EQ(records + stops + marks + shutters, 0) << (heard.empty() ? "" : heard.back());
    trigger->stop();
}

}  // namespace
}  // namespace morvane
