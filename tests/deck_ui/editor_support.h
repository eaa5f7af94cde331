#pragma once

// Stand-ins for the deck editor's tests: a player that records what the editor asks of it, and a builder that holds
// builds back until the test lets them finish.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <deque>
#include <functional>
#include <optional>
#include <vector>

#include "deck_ui/editor/preview_player.h"
#include "deck_ui/editor/retouch_editor.h"

namespace morvane::test {

class StandInPlayer : public PreviewPlayer {
public:
    void replaceCurrentItem(std::optional<ProgramRenderer::Plan> plan) override {
        item = std::move(plan);
        ++replacements;
        playing = false;
        position = 0;
    }
    void seek(double t, std::function<void(bool)> completion) override {
        position = t;
        seeks.push_back(t);
        if (completion) completion(true);
    }
    void play() override { playing = true; }
    void pause() override { playing = false; }
    double rate() const override { return playing ? 1 : 0; }
    double currentTime() const override { return position; }

    std::optional<ProgramRenderer::Plan> item;
    int replacements = 0;
    bool playing = false;
    double position = 0;
    std::vector<double> seeks;
};

/// Builds that wait for the test: `finish` completes one with a plan whose render width names it.
class HeldBuilder {
public:
    struct Pending {
        RetouchTake take;
        RetouchEdit edit;
        RetouchBuilder::BuildCompletion completion;
    };

    RetouchEditor::Builder builder() {
        return [this](RetouchTake take, RetouchEdit edit, QObject*, RetouchBuilder::BuildCompletion completion) {
            pending.push_back({std::move(take), std::move(edit), std::move(completion)});
        };
    }

    void finish(std::size_t index, double marker) {
        ProgramRenderer::Plan plan;
        plan.videoComposition.renderWidth = marker;
        plan.videoComposition.renderHeight = 1080;
        auto completion = std::move(pending.at(index).completion);
        completion(std::move(plan), nullptr);
    }
    void fail(std::size_t index) {
        auto completion = std::move(pending.at(index).completion);
        completion(std::nullopt, std::make_exception_ptr(RetouchBuilder::Error(RetouchBuilder::Failure::noVideo)));
    }

    std::deque<Pending> pending;
};

/// Runs the event loop until `done` holds or `seconds` pass.
inline bool waitFor(const std::function<bool()>& done, double seconds = 30) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > seconds * 1000) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}

}  // namespace morvane::test
