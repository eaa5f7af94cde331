#pragma once

#include <cstdint>
#include <string>

#include "platform/date.h"
#include "protocol/timeline_rate.h"

namespace morvane::timecode {

/// A rate as the timeline files use it: a nominal rate below 2 becomes 1, and the NTSC flag survives only for
/// 24, 30 and 60.
TimelineRate normalised(std::int64_t nominal, bool ntsc);

/// The rate of a frames-per-second figure as the timeline files count it: 23.976 is 24 NTSC, 29.97 is 30 NTSC.
TimelineRate rateOf(double framesPerSecond);

/// Whole frames of a duration: seconds × fps, rounded half away from zero.
std::int64_t frames(const TimelineRate& rate, double seconds);

/// Whole frames from the local midnight of the date's own day to the date, rounded to the nearest (halves away
/// from zero).
std::int64_t timeOfDayFrames(Date date, const TimelineRate& rate);

/// True for 29.97 and 59.94, the rates whose timecode drops frame numbers.
bool isDropFrame(const TimelineRate& rate);

/// "HH:MM:SS:FF", or "HH:MM:SS;FF" with drop-frame numbering. Hours are not wrapped at 24.
std::string timecodeString(std::int64_t frame, const TimelineRate& rate);

/// Seconds from the local midnight of the date's own day (current calendar and time zone) to the date.
double secondsSinceLocalMidnight(Date date);

/// The local midnight that starts the date's day.
Date startOfLocalDay(Date date);

/// "yyyy-MM-dd" of the date's local day.
std::string dayKey(Date date);

/// "HH.mm.ss" of the date's local time.
std::string timeStamp(Date date);

}  // namespace morvane::timecode
