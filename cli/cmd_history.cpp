// zelupdate history [--serial S] [--port P] [--since YYYY-MM-DD] [--json] [--history FILE]:
// the service records, oldest first, as a table or as the lines stored.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app/service_record.h"
#include "cli/command.h"
#include "cli/command_options.h"
#include "platform/terminal_text.h"
#include "platform/time_text.h"
#include "serial/com_ports.h"
#include "serial/port_names.h"

namespace {

// Texts from the file reach the terminal without control characters (C0, C1, the
// bidirectional ones) or bytes that are not UTF-8: each shows as '?'.
std::string printable(const std::string& text) {
  return platform::terminalText(text, platform::TerminalEscape::Question);
}

// Columns are counted in characters, not bytes, so UTF-8 texts line up.
size_t displayWidth(const std::string& text) {
  size_t width = 0;
  for (const char c : text) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++width;
  }
  return width;
}

std::string whenText(const ServiceRecord& record) {
  if (!record.start) return "-";
  std::string text = isoUtc(*record.start);  // 2026-12-07T18:42:47Z
  text[10] = ' ';
  text.pop_back();
  return text;
}

std::string instrumentText(const ServiceRecord& record) {
  if (!record.instrument) return "-";
  std::string text = record.instrument->model;
  if (!record.instrument->serial.empty())
    text += (text.empty() ? "" : " ") + record.instrument->serial;
  return text.empty() ? "-" : text;
}

std::string versionsText(const ServiceRecord& record) {
  const std::string before =
      record.instrument && !record.instrument->version.empty() ? record.instrument->version : "?";
  return before + " -> " + (record.versionAfter.empty() ? "?" : record.versionAfter);
}

std::string updatedText(const ServiceRecord& record) {
  if (!record.updated) return "-";
  std::string text = record.updated->processor ? "processor" : "";
  if (!record.updated->option.empty()) text += (text.empty() ? "" : "+") + record.updated->option;
  return text.empty() ? "nothing" : text;
}

std::string outcomeText(const ServiceRecord& record) {
  std::string text = record.outcome.empty() ? "?" : record.outcome;
  if (record.result && *record.result != 0) {
    char hex[16];
    std::snprintf(hex, sizeof hex, " %X", static_cast<unsigned>(*record.result));
    text += hex;
  }
  if (record.dryRun) text += " (dry run)";
  return text;
}

}  // namespace

std::vector<std::vector<std::string>> historyTable(const std::vector<StoredRecord>& records) {
  std::vector<std::vector<std::string>> rows = {
      {"when (UTC)", "port", "instrument", "version", "updated", "outcome", "duration"}};
  for (const StoredRecord& stored : records) {
    const ServiceRecord& r = stored.record;
    rows.push_back({whenText(r), printable(r.port.empty() ? "-" : r.port),
                    printable(instrumentText(r)), printable(versionsText(r)),
                    printable(updatedText(r)), printable(outcomeText(r)),
                    platform::historyDurationText(r.durationSeconds.value_or(-1))});
  }
  return rows;
}

namespace {

void printTable(const std::vector<StoredRecord>& records) {
  const std::vector<std::vector<std::string>> rows = historyTable(records);
  std::vector<size_t> widths(rows[0].size(), 0);
  for (const auto& row : rows) {
    for (size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], displayWidth(row[i]));
  }
  for (const auto& row : rows) {
    std::string line;
    for (size_t i = 0; i < row.size(); ++i) {
      line += row[i];
      if (i + 1 < row.size()) line += std::string(widths[i] - displayWidth(row[i]) + 2, ' ');
    }
    std::printf("%s\n", line.c_str());
  }
}

class HistoryCommand final : public Command {
 public:
  void define(CLI::App& app) override {
    app.add_option("--serial", m_filter.serial, "only the instrument with serial number S")
        ->type_name("S")
        ->check(cli::nameValue("a serial number"));
    app.add_option("--port", m_filter.port, "only port P (COM5 also matches its device)")
        ->type_name("P")
        ->check(CLI::Validator(
            [](std::string& value) -> std::string {
              // Any form a run takes, whether or not the port is there now: records outlive
              // devices and mappings.
              const bool named = value.starts_with("/") || serial::isNetworkPortName(value) ||
                                 serial::isSimulatedPortName(value);
              if (named || serial::comNumberOfName(value) > 0) return std::string();
              return "takes a port as run --port does (COM5, a device path, rfc2217://..., "
                     "sim:...), not '" +
                     printable(value) + "'";
            },
            ""));
    app.add_option("--since", m_sinceText, "only the records from that day on")
        ->type_name("YYYY-MM-DD")
        ->check(CLI::Validator(
            [](std::string& value) -> std::string {
              std::time_t since = 0;
              if (parseHistoryDate(value, since)) return std::string();
              return "takes a date YYYY-MM-DD, not '" + printable(value) + "'";
            },
            ""));
    app.add_flag("--json", m_json, "the records as the JSON lines stored");
    app.footer("The history read is the one --history FILE names, else the default.");
  }

  int run(const CommonOptions& common) override;

 private:
  HistoryFilter m_filter;
  std::string m_sinceText;
  bool m_json = false;
};

int HistoryCommand::run(const CommonOptions& common) {
  HistoryFilter filter = m_filter;
  const bool json = m_json;
  const std::string path = common.historyFile.empty() ? defaultHistoryPath() : common.historyFile;
  if (!m_sinceText.empty()) {
    std::time_t since = 0;
    parseHistoryDate(m_sinceText, since);
    filter.since = since;
  }

  // A COM number of --port reaches its device through the settings file's mapping.
  if (!filter.port.empty()) serial::loadComPortMapping(settingsFileFor(common));
  std::vector<StoredRecord> records;
  std::string why;
  if (!readHistory(path, filter, records, &why)) {
    std::fprintf(stderr, "zelupdate: cannot read the history %s: %s\n", printable(path).c_str(),
                 why.c_str());
    return kExitFailed;
  }
  if (json) {
    // The stored lines, with the characters a terminal would act on written as the JSON
    // escapes that mean the same.
    for (const StoredRecord& stored : records) {
      std::printf("%s\n",
                  platform::terminalText(stored.line, platform::TerminalEscape::Json).c_str());
    }
    return kExitOk;
  }
  if (records.empty()) {
    std::printf("no service records in %s\n", printable(path).c_str());
    return kExitOk;
  }
  printTable(records);
  return kExitOk;
}

}  // namespace

std::unique_ptr<Command> makeHistoryCommand() {
  return std::make_unique<HistoryCommand>();
}
