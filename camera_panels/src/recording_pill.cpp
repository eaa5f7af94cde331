#include "camera_panels/recording_pill.h"

#include <cstdio>

#include "camera_panels/status_texts.h"

namespace morvane {

QString recordingPillText(Date start, Date now, bool withWord) {
    auto elapsed = wholeNumber(now.timeIntervalSince(start));
    if (!elapsed) return withWord ? QStringLiteral("REC —") : QStringLiteral("—");
    const std::int64_t seconds = std::max<std::int64_t>(*elapsed, 0);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%s%02lld:%02lld", withWord ? "REC " : "",
                  static_cast<long long>(seconds / 60), static_cast<long long>(seconds % 60));
    return QString::fromUtf8(buffer);
}

RecordingPill::RecordingPill(Date start, QWidget* parent, std::function<Date()> clock)
    : StatusPill(QString(), true, parent),
      start_(start),
      clock_(clock ? std::move(clock) : [] { return Date::now(); }) {
    setMonospacedDigits(true);
    timer_.setInterval(1000);
    connect(&timer_, &QTimer::timeout, this, &RecordingPill::tick);
    timer_.start();
    tick();
}

void RecordingPill::setStart(Date start) {
    start_ = start;
    tick();
}

void RecordingPill::setTimeOnly(bool timeOnly) {
    if (timeOnly == timeOnly_) return;
    timeOnly_ = timeOnly;
    tick();
}

int RecordingPill::wholeWidth() const {
    return widthFor(recordingPillText(start_, clock_()));
}

int RecordingPill::timeWidth() const {
    return widthFor(recordingPillText(start_, clock_(), false));
}

void RecordingPill::tick() {
    setText(recordingPillText(start_, clock_(), !timeOnly_));
}

}  // namespace morvane
