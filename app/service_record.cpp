#include "app/service_record.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "app/json_value.h"
#include "flash/result_meaning.h"
#include "platform/host_identity.h"
#include "platform/time_text.h"
#include "platform/whole_file.h"
#include "serial/com_ports.h"

namespace {

// Another process holds the lock only for one write; a lock held longer is a stuck process,
// and the run must not wait for it.
constexpr int kLockWaitMs = 5000;
// Far more than years of records; beyond it the history is not read into memory.
constexpr size_t kMaxHistoryBytes = size_t{512} << 20;

// JSON text of one record, built member by member.
class ObjectWriter {
 public:
  explicit ObjectWriter(std::string& out) : m_out(out) { m_out += '{'; }
  ~ObjectWriter() { m_out += '}'; }
  ObjectWriter(const ObjectWriter&) = delete;
  ObjectWriter& operator=(const ObjectWriter&) = delete;

  std::string& key(const char* name) {
    if (!m_first) m_out += ',';
    m_first = false;
    appendJsonString(m_out, name);
    m_out += ':';
    return m_out;
  }
  void text(const char* name, const std::string& value) {
    if (!value.empty()) appendJsonString(key(name), value);
  }
  void integer(const char* name, int64_t value) { key(name) += std::to_string(value); }
  void boolean(const char* name, bool value) { key(name) += value ? "true" : "false"; }
  void hex(const char* name, const std::optional<uint32_t>& value) {
    if (!value) return;
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%X", static_cast<unsigned>(*value));
    appendJsonString(key(name), buffer);
  }
  void time(const char* name, const std::optional<std::time_t>& value) {
    const std::string text = value ? isoUtc(*value) : std::string();
    if (!text.empty()) appendJsonString(key(name), text);
  }

 private:
  std::string& m_out;
  bool m_first = true;
};

std::string durationText(double seconds) {
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

std::string textOf(const JsonValue* value) {
  return value && value->isString() ? value->text : std::string();
}

std::optional<int64_t> integerOf(const JsonValue* value) {
  if (!value || !value->isNumber() || !(std::fabs(value->number) < 9.0e18)) return std::nullopt;
  return static_cast<int64_t>(value->number);
}

std::optional<uint32_t> hexOf(const JsonValue* value) {
  const std::string text = textOf(value);
  if (text.size() < 3 || text.size() > 10 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X'))
    return std::nullopt;
  char* end = nullptr;
  const unsigned long number = std::strtoul(text.c_str() + 2, &end, 16);
  if (*end != '\0' || text[2] == '-' || text[2] == '+' || text[2] == ' ') return std::nullopt;
  return static_cast<uint32_t>(number);
}

std::optional<std::time_t> timeOf(const JsonValue* value) {
  std::time_t when = 0;
  if (!value || !value->isString() || !parseIsoUtc(value->text, when)) return std::nullopt;
  return when;
}

// The names by which a port can be asked for: as written, "COMn" for a COM number in any
// form, and the device it reaches (links resolved). `device`: what it resolved to when the
// record was written; empty: what it resolves to now.
std::vector<std::string> portKeys(const std::string& port, const std::string& device) {
  std::vector<std::string> keys = {port};
  if (const int number = platform::comNumberOfName(port); number > 0)
    keys.push_back("COM" + std::to_string(number));
  const std::string reached = device.empty() ? port : device;
  if (!reached.empty()) keys.push_back(platform::resolvedPortDevice(reached));
  return keys;
}

bool matches(const ServiceRecord& record, const HistoryFilter& filter,
             const std::vector<std::string>& portKeysWanted) {
  if (!filter.serial.empty() && (!record.instrument || record.instrument->serial != filter.serial))
    return false;
  if (!filter.port.empty()) {
    const std::vector<std::string> keys = portKeys(record.port, record.device);
    const bool samePort = std::any_of(keys.begin(), keys.end(), [&](const std::string& key) {
      return !key.empty() &&
             std::find(portKeysWanted.begin(), portKeysWanted.end(), key) != portKeysWanted.end();
    });
    if (!samePort) return false;
  }
  if (filter.since && (!record.start || *record.start < *filter.since)) return false;
  return true;
}

}  // namespace

std::string isoUtc(std::time_t when) {
  return platform::formatIsoUtc(when);
}

bool parseIsoUtc(const std::string& text, std::time_t& when) {
  return platform::parseIsoUtc(text, when);
}

bool parseHistoryDate(const std::string& text, std::time_t& when) {
  return text.size() == 10 && parseIsoUtc(text + "T00:00:00Z", when);
}

std::string serviceRecordJson(const ServiceRecord& record) {
  std::string out;
  {
    ObjectWriter line(out);
    line.integer("record", record.format);
    line.time("start", record.start);
    line.time("end", record.end);
    if (record.durationSeconds) line.key("duration_s") += durationText(*record.durationSeconds);
    line.text("host", record.host);
    line.text("user", record.user);
    line.text("program", record.program);
    line.text("front_end", record.frontEnd);
    line.text("mode", record.mode);
    if (record.dryRun) line.boolean("dry_run", true);
    line.text("port", record.port);
    line.text("device", record.device);
    if (record.instrument) line.key("instrument") += instrumentJson(*record.instrument);
    line.text("version_after", record.versionAfter);
    if (record.updated) {
      ObjectWriter object(line.key("updated"));
      object.boolean("processor", record.updated->processor);
      if (record.updated->option.empty()) {
        object.key("option") += "null";
      } else {
        object.text("option", record.updated->option);
      }
    }
    if (!record.files.empty()) {
      std::string& list = line.key("files");
      list += '[';
      for (size_t i = 0; i < record.files.size(); ++i) {
        if (i > 0) list += ',';
        const ServiceRecordFile& file = record.files[i];
        ObjectWriter object(list);
        object.text("role", file.role);
        object.text("name", file.name);
        if (file.bytes) object.integer("bytes", *file.bytes);
        object.text("sha256", file.sha256);
        object.hex("target", file.target);
      }
      list += ']';
    }
    if (!record.steps.empty()) {
      std::string& list = line.key("steps");
      list += '[';
      for (size_t i = 0; i < record.steps.size(); ++i) {
        if (i > 0) list += ',';
        appendJsonString(list, record.steps[i]);
      }
      list += ']';
    }
    if (record.result && *record.result == 0) {
      line.integer("result", 0);
    } else if (record.result) {
      ObjectWriter object(line.key("result"));
      object.integer("code", *record.result);
      object.text("hex", resultHex(*record.result));
      object.text("meaning", record.resultMeaning.empty() ? resultMeaning(*record.result)
                                                          : record.resultMeaning);
    }
    line.text("outcome", record.outcome);
    if (record.statistics) {
      ObjectWriter object(line.key("statistics"));
      object.integer("bytes_sent", record.statistics->bytesSent);
      object.integer("packets", record.statistics->packets);
      object.integer("packet_errors", record.statistics->packetErrors);
      object.integer("packet_retries", record.statistics->packetRetries);
    }
    if (record.verify) {
      std::string& value = line.key("verify");
      if (record.verify->empty()) {
        value += "null";
      } else {
        appendJsonString(value, *record.verify);
      }
    }
    if (!record.differences.empty()) {
      std::string& list = line.key("differences");
      list += '[';
      for (size_t i = 0; i < record.differences.size(); ++i) {
        char address[16];
        std::snprintf(address, sizeof address, "0x%X",
                      static_cast<unsigned>(record.differences[i]));
        if (i > 0) list += ',';
        appendJsonString(list, address);
      }
      list += ']';
    }
    line.text("backup", record.backup);
    line.text("restore", record.restore);
  }
  return out;
}

std::string instrumentJson(const ServiceRecordInstrument& instrument) {
  std::string out;
  {
    ObjectWriter object(out);
    object.text("maker", instrument.maker);
    object.text("model", instrument.model);
    object.text("serial", instrument.serial);
    object.text("version", instrument.version);
    object.hex("hw", instrument.hw);
    object.text("board", instrument.board);
  }
  return out;
}

bool instrumentOfJson(const JsonValue* object, ServiceRecordInstrument& instrument) {
  if (object == nullptr || object->kind != JsonValue::Kind::kObject) return false;
  instrument.maker = textOf(object->get("maker"));
  instrument.model = textOf(object->get("model"));
  instrument.serial = textOf(object->get("serial"));
  instrument.version = textOf(object->get("version"));
  instrument.hw = hexOf(object->get("hw"));
  instrument.board = textOf(object->get("board"));
  return true;
}

std::string defaultHistoryPath() {
  const char* state = std::getenv("XDG_STATE_HOME");
  std::string base;
  if (state && state[0] == '/') {
    base = state;
  } else {
    const std::string home = platform::homeFolder();
    base = (home.empty() ? std::string("/tmp") : home) + "/.local/state";
  }
  return base + "/zelupdate/history.jsonl";
}

bool appendRecord(const std::string& path, const ServiceRecord& record, std::string* why) {
  return platform::appendLineLocked(path, serviceRecordJson(record), kLockWaitMs, why,
                                    {"history file", "record"});
}

bool parseRecordLine(const std::string& line, ServiceRecord& record) {
  JsonValue root;
  if (!parseJson(line, root) || root.kind != JsonValue::Kind::kObject) return false;
  record = ServiceRecord();
  if (const auto format = integerOf(root.get("record")))
    record.format = static_cast<int>(std::clamp<int64_t>(*format, INT32_MIN, INT32_MAX));
  record.start = timeOf(root.get("start"));
  record.end = timeOf(root.get("end"));
  if (const JsonValue* duration = root.get("duration_s"); duration && duration->isNumber())
    record.durationSeconds = duration->number;
  record.host = textOf(root.get("host"));
  record.user = textOf(root.get("user"));
  record.program = textOf(root.get("program"));
  record.frontEnd = textOf(root.get("front_end"));
  record.mode = textOf(root.get("mode"));
  if (const JsonValue* dry = root.get("dry_run"); dry && dry->kind == JsonValue::Kind::kBool)
    record.dryRun = dry->boolean;
  record.port = textOf(root.get("port"));
  record.device = textOf(root.get("device"));
  if (ServiceRecordInstrument instrument; instrumentOfJson(root.get("instrument"), instrument))
    record.instrument = instrument;
  record.versionAfter = textOf(root.get("version_after"));
  if (const JsonValue* object = root.get("updated");
      object && object->kind == JsonValue::Kind::kObject) {
    ServiceRecordUpdated updated;
    const JsonValue* processor = object->get("processor");
    updated.processor =
        processor && processor->kind == JsonValue::Kind::kBool && processor->boolean;
    updated.option = textOf(object->get("option"));
    record.updated = updated;
  }
  if (const JsonValue* list = root.get("files"); list && list->kind == JsonValue::Kind::kArray) {
    for (const JsonValue& item : list->items) {
      if (item.kind != JsonValue::Kind::kObject) continue;
      ServiceRecordFile file;
      file.role = textOf(item.get("role"));
      file.name = textOf(item.get("name"));
      file.bytes = integerOf(item.get("bytes"));
      file.sha256 = textOf(item.get("sha256"));
      file.target = hexOf(item.get("target"));
      record.files.push_back(file);
    }
  }
  if (const JsonValue* list = root.get("steps"); list && list->kind == JsonValue::Kind::kArray) {
    for (const JsonValue& item : list->items) {
      if (item.isString()) record.steps.push_back(item.text);
    }
  }
  if (const JsonValue* result = root.get("result")) {
    const JsonValue* code = result->kind == JsonValue::Kind::kObject ? result->get("code") : result;
    if (const auto value = integerOf(code); value && *value >= INT32_MIN && *value <= INT32_MAX)
      record.result = static_cast<int32_t>(*value);
    if (result->kind == JsonValue::Kind::kObject)
      record.resultMeaning = textOf(result->get("meaning"));
  }
  record.outcome = textOf(root.get("outcome"));
  if (const JsonValue* object = root.get("statistics");
      object && object->kind == JsonValue::Kind::kObject) {
    ServiceRecordStatistics statistics;
    statistics.bytesSent = integerOf(object->get("bytes_sent")).value_or(0);
    statistics.packets = integerOf(object->get("packets")).value_or(0);
    statistics.packetErrors = integerOf(object->get("packet_errors")).value_or(0);
    statistics.packetRetries = integerOf(object->get("packet_retries")).value_or(0);
    record.statistics = statistics;
  }
  if (const JsonValue* verify = root.get("verify"))
    record.verify = verify->isString() ? verify->text : std::string();
  if (const JsonValue* list = root.get("differences");
      list && list->kind == JsonValue::Kind::kArray) {
    for (const JsonValue& item : list->items) {
      if (const auto address = hexOf(&item)) record.differences.push_back(*address);
    }
  }
  record.backup = textOf(root.get("backup"));
  record.restore = textOf(root.get("restore"));
  return true;
}

bool readHistory(const std::string& path, const HistoryFilter& filter,
                 std::vector<StoredRecord>& records, std::string* why) {
  records.clear();
  std::string contents;
  if (!platform::readFileIfPresent(path, kMaxHistoryBytes, contents, why)) return false;
  const std::vector<std::string> wanted =
      filter.port.empty() ? std::vector<std::string>() : portKeys(filter.port, std::string());
  size_t begin = 0;
  while (begin < contents.size()) {
    size_t end = contents.find('\n', begin);
    if (end == std::string::npos) end = contents.size();
    StoredRecord stored;
    stored.line = contents.substr(begin, end - begin);
    if (!stored.line.empty() && stored.line.back() == '\r') stored.line.pop_back();
    if (parseRecordLine(stored.line, stored.record) && matches(stored.record, filter, wanted))
      records.push_back(std::move(stored));
    begin = end + 1;
  }
  std::stable_sort(records.begin(), records.end(),
                   [](const StoredRecord& a, const StoredRecord& b) {
                     return a.record.start.value_or(0) < b.record.start.value_or(0);
                   });
  return true;
}
