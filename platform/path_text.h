// File names as texts: every text inside the program is UTF-8, a std::filesystem::path holds
// the system's own form. On Linux both are the same bytes; on Windows a path is UTF-16, and
// the C++ library's own conversion from and to std::string goes through the C library's
// locale (not UTF-8: "Prüfstand" would become "PrÃ¼fstand") and throws on names it cannot
// express. Every file name that comes from a text or goes into one passes through here.
#pragma once

#include <filesystem>
#include <string>

namespace platform {

// The path that a UTF-8 text names (an invalid byte becomes U+FFFD on Windows).
std::filesystem::path pathFromUtf8(const std::string& text);
// The path's name as UTF-8 text, for messages, records and the other platform calls.
std::string utf8FromPath(const std::filesystem::path& path);
// `name` inside `folder` (none: name alone), joined with the system's separator, so that a
// path that is printed reads as the system writes it ("C:\\...\\zelupdate\\history.jsonl").
inline std::string joinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  return utf8FromPath(pathFromUtf8(folder) / pathFromUtf8(name));
}

}  // namespace platform
