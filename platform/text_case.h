// Names that people type in either case ("yes", "B1", a section of the settings file) are
// compared letter by letter in ASCII, the same on every system and in every locale.
#pragma once

#include <optional>
#include <string_view>

namespace platform {

inline bool equalNoCase(std::string_view a, std::string_view b) {
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// "yes" or "no" in any case (command line options, a simulated port's keys); nothing for
// any other text.
inline std::optional<bool> parseYesNo(std::string_view text) {
  if (equalNoCase(text, "yes")) return true;
  if (equalNoCase(text, "no")) return false;
  return std::nullopt;
}

}  // namespace platform
