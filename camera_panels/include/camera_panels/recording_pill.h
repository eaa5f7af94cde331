#pragma once

#include <QTimer>

#include <functional>

#include "camera_panels/status_pill.h"
#include "platform/date.h"

namespace morvane {

/// "REC 03:07": the time since a recording began, minutes not wrapped into hours; a start in the future
/// reads 00:00, and a time that is not a number reads "REC —". Without the word: "03:07", where a pill has no
/// room for it (its red dot still says it records).
QString recordingPillText(Date start, Date now, bool withWord = true);

/// A live status pill that counts a recording's running time, redrawn once a second.
class RecordingPill : public StatusPill {
    Q_OBJECT
public:
    explicit RecordingPill(Date start, QWidget* parent = nullptr, std::function<Date()> clock = {});

    void setStart(Date start);
    Date start() const { return start_; }
    /// The time alone, without "REC".
    void setTimeOnly(bool timeOnly);
    bool timeOnly() const { return timeOnly_; }
    /// The pill's width with and without its word, at the time shown now.
    int wholeWidth() const;
    int timeWidth() const;
    /// Redraws from the clock now (the timer calls it every second).
    void tick();

private:
    Date start_;
    std::function<Date()> clock_;
    QTimer timer_;
    bool timeOnly_ = false;
};

}  // namespace morvane
