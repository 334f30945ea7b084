// UTC text on the proleptic Gregorian calendar of <chrono>, the same on every system.
#include "platform/time_text.h"

#include <algorithm>
#include <chrono>
#include <cmath>
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

// The UTC time in `format`, which takes the six fields from year to second; empty outside
// the years 0000 to 9999.
std::string utcText(std::time_t when, const char* format) {
  CivilTime t;
  if (!utcOf(when, t)) return std::string();
  char text[24];
  std::snprintf(text, sizeof text, format, t.year, t.month, t.day, t.hour, t.minute, t.second);
  return text;
}

}  // namespace

std::string formatIsoUtc(std::time_t when) {
  return utcText(when, "%04d-%02d-%02dT%02d:%02d:%02dZ");
}

std::string formatUtcStamp(std::time_t when) {
  return utcText(when, "%04d%02d%02d-%02d%02d%02d");
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

std::string progressDurationText(int64_t seconds) {
  const int64_t s = std::clamp<int64_t>(seconds, 0, 99 * 3600 + 3599);
  char buffer[32];
  if (s >= 3600) {
    std::snprintf(buffer, sizeof buffer, "%d:%02d:%02d", static_cast<int>(s / 3600),
                  static_cast<int>(s / 60 % 60), static_cast<int>(s % 60));
  } else {
    std::snprintf(buffer, sizeof buffer, "%d:%02d", static_cast<int>(s / 60),
                  static_cast<int>(s % 60));
  }
  return buffer;
}

std::string estimateDurationText(double seconds) {
  const long whole = static_cast<long>(seconds + 0.5);
  char text[48];
  if (whole >= 60) {
    std::snprintf(text, sizeof text, "%ld min %02ld s", whole / 60, whole % 60);
  } else {
    std::snprintf(text, sizeof text, "%ld s", whole);
  }
  return text;
}

std::string historyDurationText(double seconds) {
  if (!std::isfinite(seconds) || seconds < 0 || seconds > 1e9) return "-";
  const auto whole = static_cast<long long>(seconds + 0.5);
  char text[32];
  if (whole < 60) {
    std::snprintf(text, sizeof text, "%llds", whole);
  } else if (whole < 3600) {
    std::snprintf(text, sizeof text, "%lldm%02llds", whole / 60, whole % 60);
  } else {
    std::snprintf(text, sizeof text, "%lldh%02lldm", whole / 3600, whole % 3600 / 60);
  }
  return text;
}

std::string recordDurationText(double seconds) {
  if (!std::isfinite(seconds)) return "0";
  char buffer[64];
  // Milliseconds are enough; beyond any real duration the shortest exact form is kept.
  if (std::fabs(seconds) >= 1e12) {
    std::snprintf(buffer, sizeof buffer, "%.17g", seconds);
    return buffer;
  }
  std::snprintf(buffer, sizeof buffer, "%.3f", seconds);
  std::string text = buffer;
  while (text.back() == '0') text.pop_back();
  if (text.back() == '.') text.pop_back();
  return text;
}

}  // namespace platform
