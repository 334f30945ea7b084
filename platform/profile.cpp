// The settings file. The file is read whole and split into lines that keep their own line
// ends, so a write changes exactly one line (or adds one, or a section) and every other
// byte stays as it was.
//
// Syntax, as the Windows profile functions read it: "[name]" opens a section (leading
// blanks allowed, the name ends at "]"); "key=value" is an entry of the current section;
// names compare without regard to case and without surrounding blanks; a value loses its
// surrounding blanks and one pair of matching surrounding quotes. The first section of a
// name and the first key of a name in it count. Lines without "=" (comments, blank lines)
// are kept but never match a key.
#include "platform/profile.h"

#include "platform/host_identity.h"
#include "platform/path_text.h"
#include "platform/text_case.h"
#include "platform/user_folders.h"
#include "platform/whole_file.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string_view>
#include <vector>

namespace platform {
namespace {

std::string g_override;

constexpr const char* kSettingsFileName = "zelupdate.ini";

struct Line {
  std::string text;  // without its line end
  std::string end;   // "\n", "\r\n" or "" for a last line without one
};

std::vector<Line> splitLines(const std::string& contents) {
  std::vector<Line> lines;
  size_t start = 0;
  while (start < contents.size()) {
    const size_t newline = contents.find('\n', start);
    Line line;
    if (newline == std::string::npos) {
      line.text = contents.substr(start);
      start = contents.size();
    } else {
      line.text = contents.substr(start, newline - start);
      line.end = "\n";
      start = newline + 1;
    }
    if (!line.end.empty() && !line.text.empty() && line.text.back() == '\r') {
      line.text.pop_back();
      line.end = "\r\n";
    }
    lines.push_back(std::move(line));
  }
  return lines;
}

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string_view trim(std::string_view text) {
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  return text;
}

// The section name of a "[name]" line; false for other lines.
bool sectionName(const std::string& text, std::string_view& name) {
  std::string_view rest = trim(text);
  if (rest.empty() || rest.front() != '[') return false;
  rest.remove_prefix(1);
  const size_t close = rest.find(']');
  name = trim(rest.substr(0, close));
  return true;
}

// The key and value of a "key=value" line; false for other lines.
bool keyValue(const std::string& text, std::string_view& key, std::string_view& value) {
  const size_t equals = text.find('=');
  if (equals == std::string::npos) return false;
  const std::string_view whole(text);
  key = trim(whole.substr(0, equals));
  if (key.empty() || key.front() == ';') return false;
  value = trim(whole.substr(equals + 1));
  return true;
}

// A settings file is small: anything larger, or anything that is not a regular file (a
// FIFO, a device), is taken as no settings at all.
constexpr size_t kMaxSettingsBytes = 1 << 20;

bool readWhole(const std::string& file, std::string& contents, std::string* why = nullptr) {
  return readRegularFile(file, kMaxSettingsBytes, contents, why);
}

// A settings file that cannot take a change is left as it is; the run goes on without
// storing the value. Said once per file, on standard error.
bool leftUntouched(const std::string& file, const std::string& why) {
  static std::set<std::string> reported;
  if (reported.insert(file).second) {
    std::fprintf(stderr, "zelupdate: settings file %s left untouched: %s\n", file.c_str(),
                 why.c_str());
  }
  return false;
}

// Where a key is: index of the section line and of the key line; npos when missing.
struct Position {
  size_t section = std::string::npos;
  size_t key = std::string::npos;
  size_t sectionEnd = 0;  // first line after the section's last entry
};

Position locate(const std::vector<Line>& lines, const std::string& section,
                const std::string& key) {
  Position position;
  const std::string_view wantedSection = trim(section);
  const std::string_view wantedKey = trim(key);
  bool inside = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string_view name;
    if (sectionName(lines[i].text, name)) {
      if (inside) break;  // the first section of the name ends here
      if (equalNoCase(name, wantedSection)) {
        inside = true;
        position.section = i;
        position.sectionEnd = i + 1;
      }
      continue;
    }
    if (!inside) continue;
    if (!trim(lines[i].text).empty()) position.sectionEnd = i + 1;
    std::string_view entryKey, entryValue;
    if (position.key == std::string::npos && keyValue(lines[i].text, entryKey, entryValue) &&
        equalNoCase(entryKey, wantedKey)) {
      position.key = i;
    }
  }
  return position;
}

bool lookUp(const std::string& section, const std::string& key, const std::string& file,
            std::string& value) {
  std::string contents;
  if (file.empty() || !readWhole(file, contents)) return false;
  const std::vector<Line> lines = splitLines(contents);
  const Position position = locate(lines, section, key);
  if (position.key == std::string::npos) return false;
  std::string_view entryKey, entryValue;
  keyValue(lines[position.key].text, entryKey, entryValue);
  if (entryValue.size() >= 2 && (entryValue.front() == '"' || entryValue.front() == '\'') &&
      entryValue.back() == entryValue.front()) {
    entryValue = entryValue.substr(1, entryValue.size() - 2);
  }
  value = std::string(entryValue);
  return true;
}

}  // namespace

int getPrivateProfileInt(const std::string& section, const std::string& key, int defaultValue,
                         const std::string& file) {
  std::string value;
  if (!lookUp(section, key, file, value)) return defaultValue;
  // Leading decimal digits with an optional sign; values beyond the int range saturate.
  size_t i = 0;
  bool negative = false;
  if (i < value.size() && (value[i] == '+' || value[i] == '-')) negative = value[i++] == '-';
  if (i >= value.size() || value[i] < '0' || value[i] > '9') return defaultValue;
  long long number = 0;
  for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) {
    number = number * 10 + (value[i] - '0');
    if (number > static_cast<long long>(INT_MAX) + 1) number = static_cast<long long>(INT_MAX) + 1;
  }
  if (negative) return static_cast<int>(-number);
  return number > INT_MAX ? INT_MAX : static_cast<int>(number);
}

std::string getPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue, const std::string& file) {
  std::string value;
  if (!lookUp(section, key, file, value)) return defaultValue;
  return value;
}

std::vector<std::pair<std::string, std::string>> getPrivateProfileSection(
    const std::string& section, const std::string& file) {
  std::vector<std::pair<std::string, std::string>> entries;
  std::string contents;
  if (file.empty() || !readWhole(file, contents)) return entries;
  const std::vector<Line> lines = splitLines(contents);
  const Position position = locate(lines, section, std::string());
  if (position.section == std::string::npos) return entries;
  for (size_t i = position.section + 1; i < position.sectionEnd; ++i) {
    std::string_view key, value;
    if (!keyValue(lines[i].text, key, value)) continue;
    bool seen = false;
    for (const auto& entry : entries) seen = seen || equalNoCase(entry.first, key);
    if (seen) continue;  // the first entry of a name counts
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
      value = value.substr(1, value.size() - 2);
    }
    entries.emplace_back(std::string(key), std::string(value));
  }
  return entries;
}

bool writePrivateProfileString(const std::string& section, const std::string& key,
                               const std::string& value, const std::string& file) {
  if (file.empty() || trim(section).empty() || trim(key).empty()) return false;
  // A line break in the value would make lines of its own.
  if (value.find_first_of("\r\n") != std::string::npos) return false;
  std::string contents, why;
  if (!readWhole(file, contents, &why)) {
    std::error_code error;
    if (std::filesystem::exists(pathFromUtf8(file), error)) return leftUntouched(file, why);
    contents.clear();
  }
  std::vector<Line> lines = splitLines(contents);
  // New lines take the line end the file already uses.
  const std::string end = !lines.empty() && lines.front().end == "\r\n" ? "\r\n" : "\n";

  const std::string entry = std::string(trim(key)) + "=" + value;
  const Position position = locate(lines, section, key);
  if (position.key != std::string::npos) {
    // Keep the key's own spelling and the line's end.
    std::string_view oldKey, oldValue;
    keyValue(lines[position.key].text, oldKey, oldValue);
    if (oldValue == value) return true;  // nothing to change: the file stays untouched
    lines[position.key].text = std::string(oldKey) + "=" + value;
  } else if (position.section != std::string::npos) {
    // A new key goes after the section's last entry.
    if (lines[position.sectionEnd - 1].end.empty()) lines[position.sectionEnd - 1].end = end;
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(position.sectionEnd),
                 Line{entry, end});
  } else {
    if (!lines.empty() && lines.back().end.empty()) lines.back().end = end;
    lines.push_back(Line{"[" + std::string(trim(section)) + "]", end});
    lines.push_back(Line{entry, end});
  }

  std::string output;
  output.reserve(contents.size() + entry.size() + section.size() + 8);
  for (const Line& line : lines) output += line.text + line.end;
  return writeFileWhole(file, output, &why) || leftUntouched(file, why);
}

std::string settingsFilePath(const std::string& programPath) {
  if (!g_override.empty()) return g_override;
  // Beside a program file "NAME.exe" (any case): "NAME.ini", where the program's folder may
  // be written (an installation in Program Files may not) or the file is there to write.
  if (programPath.size() >= 4 &&
      equalNoCase(std::string_view(programPath).substr(programPath.size() - 4), ".exe")) {
    const std::string beside = programPath.substr(0, programPath.size() - 4) + ".ini";
    const size_t slash = programPath.find_last_of("/\\");
    const std::string folder = slash == std::string::npos ? "." : programPath.substr(0, slash + 1);
    uint64_t bytes = 0;
    if (userMayWrite(beside) || (!regularFileSize(beside, bytes) && userMayWrite(folder)))
      return beside;
  }
  const std::string folder = userConfigFolder();
  if (folder.empty()) return kSettingsFileName;  // nowhere better: the current folder
  return joinPath(folder, kSettingsFileName);
}

void setSettingsFileOverride(const std::string& file) {
  g_override = file;
}

}  // namespace platform
