// A value as records, manifests and messages write it: "0x" and upper-case hex digits
// ("0x11000"), the form `explain` and the settings file read back.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

inline std::string hexText(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(value));
  return text;
}
