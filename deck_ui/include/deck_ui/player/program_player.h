#pragma once

#include <QImage>
#include <QObject>
#include <QSize>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <thread>

#include "deck_ui/editor/preview_player.h"
#include "deck_ui/player/sound_output.h"
#include "platform/program_renderer.h"

namespace morvane {

/// The deck editor's preview player: plays a program plan through `ProgramRenderer`, the picture on the thread
/// "morvane.program-picture" and the sound on "morvane.program-sound" into a `SoundOutput`.
///
/// While playing, the picture follows a clock that starts with the sound and lags by the sound output's latency, so
/// what is seen is what is heard. Without sound (none in the program, or no sound device) the clock is the wall
/// clock alone. Called on the main thread; `pictureChanged` and seek completions arrive there.
class ProgramPlayer : public QObject, public PreviewPlayer {
    Q_OBJECT

public:
    /// A player whose sound goes to `sound`, or to the default output device through Qt Multimedia when none.
    explicit ProgramPlayer(std::unique_ptr<SoundOutput> sound = nullptr, QObject* parent = nullptr);
    ~ProgramPlayer() override;

    void replaceCurrentItem(std::optional<ProgramRenderer::Plan> plan) override;
    void seek(double programSeconds, std::function<void(bool)> completion = {}) override;
    void play() override;
    void pause() override;
    double rate() const override;
    double currentTime() const override;

    /// The picture shown now; null without an item.
    QImage picture() const;
    /// The largest picture worth making (the view's size in device pixels); larger programs are scaled down.
    void setPictureLimit(QSize limit);
    bool hasItem() const;
    double duration() const;
    /// Pictures shown since the player was made.
    std::int64_t framesShown() const;
    /// True while sound goes to the output.
    bool soundRunning() const { return soundRunning_; }

signals:
    void pictureChanged();
    /// Playing started or stopped (at the end of the program too).
    void rateChanged();

private:
    struct Shared;
    void startSound(double at);
    void stopSound();
    void seekFinished(std::uint64_t id);
    void reachedEnd();

    std::shared_ptr<Shared> shared_;
    std::unique_ptr<SoundOutput> sound_;
    bool soundRunning_ = false;
    std::map<std::uint64_t, std::function<void(bool)>> seekCompletions_;
    std::thread picture_;
    std::thread soundThread_;
};

}  // namespace morvane
