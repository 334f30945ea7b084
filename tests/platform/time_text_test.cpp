// UTC as text both ways, and the local calendar time.
#include "platform/time_text.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <vector>

namespace {

TEST(TimeText, utc_texts_round_trip_and_only_real_dates_parse) {
  const struct {
    std::time_t when;
    const char* iso;
    const char* stamp;
  } good[] = {
      {0, "1970-01-01T00:00:00Z", "19700101-000000"},
      {1796668967, "2026-12-07T18:42:47Z", "20261207-184247"},
      {951782400, "2000-02-29T00:00:00Z", "20000229-000000"},  // a leap day
      {-1, "1969-12-31T23:59:59Z", "19691231-235959"},
  };
  for (const auto& row : good) {
    EXPECT_EQ(platform::formatIsoUtc(row.when), row.iso);
    EXPECT_EQ(platform::formatUtcStamp(row.when), row.stamp);
    std::time_t parsed = 42;
    EXPECT_TRUE(platform::parseIsoUtc(row.iso, parsed)) << row.iso;
    EXPECT_EQ(parsed, row.when) << row.iso;
  }
  const char* bad[] = {
      "2026-02-30T00:00:00Z",    // no such day
      "2025-02-29T00:00:00Z",    // not a leap year
      "2026-13-01T00:00:00Z",    // no such month
      "2026-00-10T00:00:00Z",    // month 0
      "2026-12-07T24:00:00Z",    // hour 24
      "2026-12-07T18:60:00Z",    // minute 60
      "2026-12-07T18:42:60Z",    // a leap second is not written
      "2026-12-07T18:42:47",     // no zone
      "2026-12-07T18:42:47+00",  // another zone's form
      "2026-12-07 18:42:47Z",    // a blank for the T
      "2026-12-7T18:42:47Z",     // a digit short
      "+026-12-07T18:42:47Z",    // a sign is no digit
      "2026-12-07T18:42:47Z ",   // trailing text
      "",
  };
  for (const char* text : bad) {
    std::time_t parsed = 42;
    EXPECT_FALSE(platform::parseIsoUtc(text, parsed)) << text;
  }
}

TEST(TimeText, local_time_follows_the_time_zone) {
  const char* old = std::getenv("TZ");
  const std::string saved = old ? old : "";
  ::setenv("TZ", "UTC-2", 1);  // POSIX form: two hours east of UTC
  ::tzset();
  const platform::CivilTime t = platform::localTime(1796668967);  // 18:42:47 UTC
  EXPECT_EQ((std::vector<int>{t.year, t.month, t.day, t.hour, t.minute, t.second}),
            (std::vector<int>{2026, 12, 7, 20, 42, 47}));
  if (old) {
    ::setenv("TZ", saved.c_str(), 1);
  } else {
    ::unsetenv("TZ");
  }
  ::tzset();
}

}  // namespace
