// UTC text on the proleptic Gregorian calendar of <chrono>, the same on every system.
#include "platform/time_text.h"

#include <chrono>
#include <cstdio>

namespace platform {
namespace {

using std::chrono::sys_seconds;

bool utcOf(std::time_t when, CivilTime& parts) {
  using namespace std::chrono;
  const sys_seconds moment{seconds{when}};
  const sys_days day = floor<days>(moment);
  const year_month_day date{day};
  const hh_mm_ss<seconds> time{moment - day};
  parts = {static_cast<int>(date.year()),
           static_cast<int>(unsigned{date.month()}),
           static_cast<int>(unsigned{date.day()}),
           static_cast<int>(time.hours().count()),
           static_cast<int>(time.minutes().count()),
           static_cast<int>(time.seconds().count())};
  return parts.year >= 0 && parts.year <= 9999;
}

}  // namespace

std::string formatIsoUtc(std::time_t when) {
  CivilTime t;
  if (!utcOf(when, t)) return std::string();
  char text[24];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return text;
}

std::string formatUtcStamp(std::time_t when) {
  CivilTime t;
  if (!utcOf(when, t)) return std::string();
  char text[24];
  std::snprintf(text, sizeof text, "%04d%02d%02d-%02d%02d%02d", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return text;
}

bool parseIsoUtc(const std::string& text, std::time_t& when) {
  // Fixed positions: digits everywhere but the separators of "YYYY-MM-DDTHH:MM:SSZ".
  static constexpr char kShape[] = "dddd-dd-ddTdd:dd:ddZ";
  if (text.size() != sizeof kShape - 1) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (kShape[i] == 'd' ? !digit : text[i] != kShape[i]) return false;
  }
  const auto number = [&text](size_t at, size_t length) {
    int value = 0;
    for (size_t i = at; i < at + length; ++i) value = value * 10 + (text[i] - '0');
    return value;
  };
  using namespace std::chrono;
  const year_month_day date{year{number(0, 4)}, month{static_cast<unsigned>(number(5, 2))},
                            day{static_cast<unsigned>(number(8, 2))}};
  const int hour = number(11, 2), minute = number(14, 2), second = number(17, 2);
  if (!date.ok() || hour > 23 || minute > 59 || second > 59) return false;
  const sys_seconds moment = sys_days{date} + hours{hour} + minutes{minute} + seconds{second};
  when = static_cast<std::time_t>(moment.time_since_epoch().count());
  return true;
}

}  // namespace platform
