// UTC as text both ways, the local calendar time, and durations in each place's form.
#include "platform/time_text.h"

#include <gtest/gtest.h>

#include <cmath>
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

// The edges of each form: where a unit begins, rounding, and what is no duration.
TEST(TimeText, durations_in_the_form_of_each_place) {
  const struct {
    double seconds;
    const char* progress;  // of the seconds rounded down
    const char* estimate;  // null: no estimate is ever that
    const char* history;
    const char* record;
  } rows[] = {
      {0, "0:00", "0 s", "0s", "0"},
      {59.5, "0:59", "1 min 00 s", "1m00s", "59.5"},
      {65.25, "1:05", "1 min 05 s", "1m05s", "65.25"},
      {3599.4, "59:59", "59 min 59 s", "59m59s", "3599.4"},
      {3661, "1:01:01", "61 min 01 s", "1h01m", "3661"},
      {-3, "0:00", nullptr, "-", "-3"},
      {400000, "99:59:59", "6666 min 40 s", "111h06m", "400000"},
      {2e9, "99:59:59", "33333333 min 20 s", "-", "2000000000"},
      {NAN, nullptr, nullptr, "-", "0"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.record);
    EXPECT_EQ(platform::historyDurationText(row.seconds), row.history);
    EXPECT_EQ(platform::recordDurationText(row.seconds), row.record);
    if (row.progress) {
      EXPECT_EQ(platform::progressDurationText(static_cast<int64_t>(row.seconds)), row.progress);
    }
    if (row.estimate) {
      EXPECT_EQ(platform::estimateDurationText(row.seconds), row.estimate);
    }
  }
  EXPECT_EQ(platform::recordDurationText(1e300), "1.0000000000000001e+300");
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
