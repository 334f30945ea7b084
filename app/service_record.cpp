#include "app/service_record.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "app/hex_text.h"
#include "flash/result_meaning.h"
#include "platform/host_identity.h"
#include "platform/path_text.h"
#include "platform/time_text.h"
#include "platform/user_folders.h"
#include "platform/whole_file.h"
#include "serial/com_ports.h"

namespace {

// Another process holds the lock only for one write; a lock held longer is a stuck process,
// and the run must not wait for it.
constexpr int kLockWaitMs = 5000;
// Far more than years of records; beyond it the history is not read into memory.
constexpr size_t kMaxHistoryBytes = size_t{512} << 20;

// Sets the members that are known: empty texts and unset values are left out.
void setText(Json& object, const char* name, const std::string& value) {
  if (!value.empty()) object[name] = jsonString(value);
}
void setHex(Json& object, const char* name, const std::optional<uint32_t>& value) {
  if (value) object[name] = hexText(*value);
}
void setTime(Json& object, const char* name, const std::optional<std::time_t>& value) {
  const std::string text = value ? isoUtc(*value) : std::string();
  if (!text.empty()) object[name] = text;
}

std::optional<uint32_t> hexOf(const Json* value) {
  const std::string text = jsonTextOf(value);
  if (text.size() < 3 || text.size() > 10 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X'))
    return std::nullopt;
  char* end = nullptr;
  const unsigned long number = std::strtoul(text.c_str() + 2, &end, 16);
  if (*end != '\0' || text[2] == '-' || text[2] == '+' || text[2] == ' ') return std::nullopt;
  return static_cast<uint32_t>(number);
}

std::optional<std::time_t> timeOf(const Json* value) {
  std::time_t when = 0;
  if (!parseIsoUtc(jsonTextOf(value), when)) return std::nullopt;
  return when;
}

bool isObject(const Json* value) {
  return value != nullptr && value->is_object();
}

// The names by which a port can be asked for: as written, "COMn" for a COM number in any
// form, and the device it reaches (links resolved). `device`: what it resolved to when the
// record was written; empty: what it resolves to now.
std::vector<std::string> portKeys(const std::string& port, const std::string& device) {
  std::vector<std::string> keys = {port};
  if (const int number = serial::comNumberOfName(port); number > 0)
    keys.push_back("COM" + std::to_string(number));
  const std::string reached = device.empty() ? port : device;
  if (!reached.empty()) keys.push_back(serial::resolvedPortDevice(reached));
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

constexpr struct {
  RunOutcome outcome;
  const char* text;
} kRunOutcomes[] = {
    {RunOutcome::kSuccess, "success"},
    {RunOutcome::kFailed, "failed"},
    {RunOutcome::kCancelled, "cancelled"},
    {RunOutcome::kRefused, "refused"},
};

}  // namespace

const char* runOutcomeText(RunOutcome outcome) {
  for (const auto& entry : kRunOutcomes) {
    if (entry.outcome == outcome) return entry.text;
  }
  return "";
}

std::optional<RunOutcome> runOutcomeOf(std::string_view text) {
  for (const auto& entry : kRunOutcomes) {
    if (text == entry.text) return entry.outcome;
  }
  return std::nullopt;
}

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
  return jsonLine(serviceRecordValue(record));
}

Json serviceRecordValue(const ServiceRecord& record) {
  Json line = Json::object();
  line["record"] = record.format;
  setTime(line, "start", record.start);
  setTime(line, "end", record.end);
  if (record.durationSeconds)
    line["duration_s"] =
        Json::parse(platform::recordDurationText(*record.durationSeconds), nullptr, false);
  setText(line, "host", record.host);
  setText(line, "user", record.user);
  setText(line, "program", record.program);
  setText(line, "front_end", record.frontEnd);
  setText(line, "mode", record.mode);
  if (record.dryRun) line["dry_run"] = true;
  setText(line, "port", record.port);
  setText(line, "device", record.device);
  if (record.instrument) line["instrument"] = instrumentJson(*record.instrument);
  setText(line, "version_after", record.versionAfter);
  if (record.updated) {
    Json& updated = line["updated"] = Json::object();
    updated["processor"] = record.updated->processor;
    updated["option"] = nullptr;
    setText(updated, "option", record.updated->option);
  }
  if (!record.files.empty()) {
    Json& list = line["files"] = Json::array();
    for (const ServiceRecordFile& file : record.files) {
      Json object = Json::object();
      setText(object, "role", file.role);
      setText(object, "name", file.name);
      if (file.bytes) object["bytes"] = *file.bytes;
      setText(object, "sha256", file.sha256);
      setHex(object, "target", file.target);
      list.push_back(std::move(object));
    }
  }
  if (!record.steps.empty()) {
    Json& list = line["steps"] = Json::array();
    for (const std::string& step : record.steps) list.push_back(jsonString(step));
  }
  if (record.result && *record.result == 0) {
    line["result"] = 0;
  } else if (record.result) {
    Json& result = line["result"] = Json::object();
    result["code"] = *record.result;
    setText(result, "hex", resultHex(*record.result));
    setText(result, "meaning",
            record.resultMeaning.empty() ? resultMeaning(*record.result) : record.resultMeaning);
  }
  setText(line, "outcome", record.outcome);
  if (record.statistics) {
    line["statistics"] = {{"bytes_sent", record.statistics->bytesSent},
                          {"packets", record.statistics->packets},
                          {"packet_errors", record.statistics->packetErrors},
                          {"packet_retries", record.statistics->packetRetries}};
  }
  if (record.verify) {
    line["verify"] = nullptr;
    setText(line, "verify", *record.verify);
  }
  if (!record.differences.empty()) {
    Json& list = line["differences"] = Json::array();
    for (const uint32_t address : record.differences) list.push_back(hexText(address));
  }
  setText(line, "backup", record.backup);
  setText(line, "restore", record.restore);
  if (record.recovered) line["recovered"] = true;
  return line;
}

Json instrumentJson(const ServiceRecordInstrument& instrument) {
  Json object = Json::object();
  setText(object, "maker", instrument.maker);
  setText(object, "model", instrument.model);
  setText(object, "serial", instrument.serial);
  setText(object, "version", instrument.version);
  setHex(object, "hw", instrument.hw);
  setText(object, "board", instrument.board);
  return object;
}

bool instrumentOfJson(const Json* object, ServiceRecordInstrument& instrument) {
  if (!isObject(object)) return false;
  instrument.maker = jsonTextOf(jsonMember(object, "maker"));
  instrument.model = jsonTextOf(jsonMember(object, "model"));
  instrument.serial = jsonTextOf(jsonMember(object, "serial"));
  instrument.version = jsonTextOf(jsonMember(object, "version"));
  instrument.hw = hexOf(jsonMember(object, "hw"));
  instrument.board = jsonTextOf(jsonMember(object, "board"));
  return true;
}

std::string defaultHistoryPath() {
  return platform::joinPath(platform::userStateFolder(), "history.jsonl");
}

bool appendRecord(const std::string& path, const ServiceRecord& record, std::string* why) {
  return platform::appendLineLocked(path, serviceRecordJson(record), kLockWaitMs, why,
                                    {"history file", "record"});
}

bool parseRecordLine(const std::string& line, ServiceRecord& record) {
  const Json parsed = parseJson(line);
  if (parsed.is_discarded() || !parsed.is_object()) return false;
  const Json* root = &parsed;
  const auto member = [](const Json* object, const char* key) { return jsonMember(object, key); };
  const auto text = [&](const Json* object, const char* key) {
    return jsonTextOf(member(object, key));
  };
  record = ServiceRecord();
  if (const auto format = jsonIntegerOf(member(root, "record")))
    record.format = static_cast<int>(std::clamp<int64_t>(*format, INT32_MIN, INT32_MAX));
  record.start = timeOf(member(root, "start"));
  record.end = timeOf(member(root, "end"));
  if (const Json* duration = member(root, "duration_s"); duration && duration->is_number())
    record.durationSeconds = duration->get<double>();
  record.host = text(root, "host");
  record.user = text(root, "user");
  record.program = text(root, "program");
  record.frontEnd = text(root, "front_end");
  record.mode = text(root, "mode");
  if (const Json* dry = member(root, "dry_run"); dry && dry->is_boolean())
    record.dryRun = dry->get<bool>();
  record.port = text(root, "port");
  record.device = text(root, "device");
  if (ServiceRecordInstrument instrument; instrumentOfJson(member(root, "instrument"), instrument))
    record.instrument = instrument;
  record.versionAfter = text(root, "version_after");
  if (const Json* object = member(root, "updated"); isObject(object)) {
    ServiceRecordUpdated updated;
    const Json* processor = member(object, "processor");
    updated.processor = processor && processor->is_boolean() && processor->get<bool>();
    updated.option = text(object, "option");
    record.updated = updated;
  }
  if (const Json* list = member(root, "files"); list && list->is_array()) {
    for (const Json& item : *list) {
      if (!item.is_object()) continue;
      ServiceRecordFile file;
      file.role = text(&item, "role");
      file.name = text(&item, "name");
      file.bytes = jsonIntegerOf(member(&item, "bytes"));
      file.sha256 = text(&item, "sha256");
      file.target = hexOf(member(&item, "target"));
      record.files.push_back(file);
    }
  }
  if (const Json* list = member(root, "steps"); list && list->is_array()) {
    for (const Json& item : *list) {
      if (item.is_string()) record.steps.push_back(item.get<std::string>());
    }
  }
  if (const Json* result = member(root, "result")) {
    const Json* code = result->is_object() ? member(result, "code") : result;
    if (const auto value = jsonIntegerOf(code); value && *value >= INT32_MIN && *value <= INT32_MAX)
      record.result = static_cast<int32_t>(*value);
    if (result->is_object()) record.resultMeaning = text(result, "meaning");
  }
  record.outcome = text(root, "outcome");
  if (const Json* object = member(root, "statistics"); isObject(object)) {
    ServiceRecordStatistics statistics;
    statistics.bytesSent = jsonIntegerOf(member(object, "bytes_sent")).value_or(0);
    statistics.packets = jsonIntegerOf(member(object, "packets")).value_or(0);
    statistics.packetErrors = jsonIntegerOf(member(object, "packet_errors")).value_or(0);
    statistics.packetRetries = jsonIntegerOf(member(object, "packet_retries")).value_or(0);
    record.statistics = statistics;
  }
  if (const Json* verify = member(root, "verify")) record.verify = jsonTextOf(verify);
  if (const Json* list = member(root, "differences"); list && list->is_array()) {
    for (const Json& item : *list) {
      if (const auto address = hexOf(&item)) record.differences.push_back(*address);
    }
  }
  record.backup = text(root, "backup");
  record.restore = text(root, "restore");
  if (const Json* recovered = member(root, "recovered"); recovered && recovered->is_boolean()) {
    record.recovered = recovered->get<bool>();
  }
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
