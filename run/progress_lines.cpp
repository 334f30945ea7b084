#include "run/progress_lines.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace {

constexpr std::string_view kProgressPrefix = "progress ";
constexpr std::string_view kInstrumentPrefix = "instrument ";
constexpr std::string_view kRecordSoFarPrefix = "record-so-far ";
constexpr std::string_view kRecordKeptPrefix = "record: ";

std::string instrumentField(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (out.size() >= kMaxInstrumentField) break;
    if (std::isgraph(static_cast<unsigned char>(c))) out += c;
  }
  return out;
}

// One number of a progress line and the single blank after it (none after the last).
template <typename Number>
bool takeNumber(std::string_view& rest, Number& value, bool last) {
  const char* end = rest.data() + rest.size();
  const auto [next, error] = std::from_chars(rest.data(), end, value);
  if (error != std::errc() || next == rest.data()) return false;
  rest.remove_prefix(static_cast<size_t>(next - rest.data()));
  if (last) return rest.empty();
  if (rest.empty() || rest.front() != ' ') return false;
  rest.remove_prefix(1);
  return true;
}

bool parseProgress(std::string_view rest, ProgressReport& report) {
  if (!takeNumber(rest, report.percent, false) || !takeNumber(rest, report.bytesPerSecond, false) ||
      !takeNumber(rest, report.secondsLeft, true)) {
    return false;
  }
  return report.percent >= -1 && report.percent <= 100 && std::isfinite(report.bytesPerSecond) &&
         report.bytesPerSecond >= -1 && report.secondsLeft >= -1;
}

}  // namespace

std::string progressReportLine(const ProgressReport& report) {
  char text[96];
  std::snprintf(text, sizeof text, "progress %d %.0f %lld", std::clamp(report.percent, -1, 100),
                report.bytesPerSecond < 0 ? -1.0 : report.bytesPerSecond,
                static_cast<long long>(report.secondsLeft < 0 ? -1 : report.secondsLeft));
  return text;
}

std::string instrumentLine(const std::string& model, const std::string& serial) {
  return std::string(kInstrumentPrefix) + instrumentField(model) + " " + instrumentField(serial);
}

std::string recordSoFarLine(const std::string& recordJson) {
  return std::string(kRecordSoFarPrefix) + recordJson;
}

std::string recordKeptLine(const std::string& historyFile) {
  return std::string(kRecordKeptPrefix) + historyFile;
}

RunLine parseRunLine(const std::string& line) {
  RunLine out;
  const std::string_view text = line;
  if (text.starts_with(kProgressPrefix)) {
    out.kind = parseProgress(text.substr(kProgressPrefix.size()), out.progress)
                   ? RunLineKind::Progress
                   : RunLineKind::Unreadable;
    if (out.kind == RunLineKind::Unreadable) out.progress = ProgressReport{};
  } else if (text.starts_with(kInstrumentPrefix)) {
    out.kind = RunLineKind::Instrument;
    const std::string_view fields = text.substr(kInstrumentPrefix.size());
    const size_t blank = fields.find(' ');
    out.model = std::string(fields.substr(0, blank));
    if (blank != std::string_view::npos) {
      const std::string_view serial = fields.substr(blank + 1);
      out.serial = std::string(serial.substr(0, serial.find(' ')));
    }
  } else if (text.starts_with(kRecordSoFarPrefix)) {
    out.kind = RunLineKind::RecordSoFar;
    out.text = line.substr(kRecordSoFarPrefix.size());
  } else if (text.starts_with(kRecordKeptPrefix)) {
    out.kind = RunLineKind::RecordKept;
    out.text = line.substr(kRecordKeptPrefix.size());
  } else {
    out.text = line;
  }
  return out;
}
