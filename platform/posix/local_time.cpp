// Local calendar time through the C library's time zone (TZ, /etc/localtime).
#include "platform/time_text.h"

#include <time.h>

namespace platform {

CivilTime localTime(std::time_t when) {
  std::tm parts{};
  if (::localtime_r(&when, &parts) == nullptr) return CivilTime{};
  return {parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
          parts.tm_hour,        parts.tm_min,     parts.tm_sec};
}

}  // namespace platform
