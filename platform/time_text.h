// Calendar time as text: UTC for records and folder names, local time for the trace.
#pragma once

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

}  // namespace platform
