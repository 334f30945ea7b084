// Calendar time as text: UTC for records and folder names, local time for the trace; and
// durations, each in the one form of the place that shows it.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace platform {

// "2026-12-07T18:42:47Z"; empty for a time outside the years 0000 to 9999.
std::string formatIsoUtc(std::time_t when);
// "20261207-184247", for names of folders made at that time; empty as above.
std::string formatUtcStamp(std::time_t when);
// The time of exactly the form formatIsoUtc writes. Only dates and times that exist
// round-trip: "2026-02-30T00:00:00Z", hour 24 or a missing "Z" are refused.
bool parseIsoUtc(const std::string& text, std::time_t& when);

// A moment on the calendar, each field as people write it (month 1-12, day 1-31).
struct CivilTime {
  int year = 0, month = 0, day = 0;
  int hour = 0, minute = 0, second = 0;
};

// The calendar time of a moment in the machine's own time zone.
CivilTime localTime(std::time_t when);

// Progress lines and the fleet table: "m:ss", or "h:mm:ss" from an hour on; negative
// durations as "0:00", the longest as "99:59:59".
std::string progressDurationText(int64_t seconds);
// The update plan's estimate, to the nearest second: "45 s", "1 min 05 s", "75 min 00 s".
std::string estimateDurationText(double seconds);
// The history table, to the nearest second: "45s", "1m05s", "2h03m"; "-" for a negative,
// unbounded or impossible duration (more than 1e9 s).
std::string historyDurationText(double seconds);
// A service record's duration_s: seconds to the millisecond without trailing zeros ("65.25",
// "3"); from 1e12 s on the shortest exact form, and "0" for what is not a number. Records
// written before read back the same, so this form stays.
std::string recordDurationText(double seconds);

}  // namespace platform
