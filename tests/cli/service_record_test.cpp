// Service records: the line format, appending from several processes, files that are not
// regular files, reading the history back through garbage, and the history and explain
// commands.
#include "app/service_record.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <sstream>

#include "app/json_text.h"
#include "cli/command_line.h"
#include "serial/com_ports.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::TempDir;
using namespace std::string_literals;

std::time_t utc(const char* text) {
  std::time_t when = 0;
  EXPECT_TRUE(parseIsoUtc(text, when)) << text;
  return when;
}

ServiceRecord fullRecord() {
  ServiceRecord r;
  r.start = utc("2026-12-07T18:42:47Z");
  r.end = utc("2026-12-07T18:44:11Z");
  r.durationSeconds = 84.25;
  r.host = "bench-3";
  r.user = "tech";
  r.program = "zelupdate 0.2.0";
  r.frontEnd = "console";
  r.mode = "automatic";
  r.port = "COM5";
  r.device = "/dev/ttyUSB0";
  r.instrument = ServiceRecordInstrument{"ZEL", "SFQ", "100123", "3.08", 0x11000, "2"};
  r.versionAfter = "3.12";
  r.updated = ServiceRecordUpdated{true, "B1"};
  r.files = {{"program", "NO_MPEG.bin", 262144, std::string(64, 'a'), 0x400000}};
  r.steps = {"OK    Autoconnect", "ERROR Erase (414)"};
  r.result = 1044;
  r.outcome = "failed";
  r.statistics = ServiceRecordStatistics{1000, 10, 1, 2};
  return r;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

TEST(ServiceRecord, line_has_the_exact_keys_and_reads_back_the_same) {
  const std::string expected =
      R"({"record":1,"start":"2026-12-07T18:42:47Z","end":"2026-12-07T18:44:11Z",)"
      R"("duration_s":84.25,"host":"bench-3","user":"tech","program":"zelupdate 0.2.0",)"
      R"("front_end":"console","mode":"automatic","port":"COM5","device":"/dev/ttyUSB0",)"
      R"("instrument":{"maker":"ZEL","model":"SFQ","serial":"100123","version":"3.08",)"
      R"("hw":"0x11000","board":"2"},"version_after":"3.12",)"
      R"("updated":{"processor":true,"option":"B1"},"files":[{"role":"program",)"
      R"("name":"NO_MPEG.bin","bytes":262144,"sha256":")" +
      std::string(64, 'a') +
      R"j(","target":"0x400000"}],"steps":["OK    Autoconnect","ERROR Erase (414)"],)j"
      R"("result":{"code":1044,"hex":"414","meaning":"the target failed to erase flash at an )"
      R"(address"},"outcome":"failed","statistics":{"bytes_sent":1000,"packets":10,)"
      R"("packet_errors":1,"packet_retries":2}})";
  EXPECT_EQ(serviceRecordJson(fullRecord()), expected);
  ServiceRecord back;
  ASSERT_TRUE(parseRecordLine(expected, back));
  EXPECT_EQ(serviceRecordJson(back), expected);

  // Unknown values are absent; a refused dry run without an option update says so.
  ServiceRecord sparse;
  sparse.dryRun = true;
  sparse.updated = ServiceRecordUpdated{false, ""};
  sparse.result = 0;
  sparse.outcome = "refused";
  EXPECT_EQ(serviceRecordJson(sparse),
            R"({"record":1,"dry_run":true,"updated":{"processor":false,"option":null},)"
            R"("result":0,"outcome":"refused"})");

  // Read back, backup and restore: a verify that was not reached is null.
  const struct {
    std::optional<std::string> verify;
    std::vector<uint32_t> differences;
    const char* expected;
  } readBack[] = {
      {"differs",
       {0x5002D, 0x5002E},
       R"({"record":1,"verify":"differs","differences":["0x5002D","0x5002E"],"backup":"bk",)"
       R"("restore":"old"})"},
      {"", {}, R"({"record":1,"verify":null,"backup":"bk","restore":"old"})"},
  };
  for (const auto& row : readBack) {
    ServiceRecord record;
    record.verify = row.verify;
    record.differences = row.differences;
    record.backup = "bk";
    record.restore = "old";
    EXPECT_EQ(serviceRecordJson(record), row.expected);
    ASSERT_TRUE(parseRecordLine(row.expected, back));
    EXPECT_EQ(serviceRecordJson(back), row.expected);
  }
}

TEST(ServiceRecord, hostile_strings_stay_valid_json_and_round_trip) {
  const struct {
    std::string in;
    std::string back;  // after writing and reading
  } rows[] = {
      {"quote \" backslash \\ slash /", "quote \" backslash \\ slash /"},
      {"nul \0 bell \a esc \x1b del \x7f"s, "nul \0 bell \a esc \x1b del \x7f"s},
      {"\r\n\t\b\f", "\r\n\t\b\f"},
      {"\xC3\xA4 \xE2\x82\xAC \xF0\x9F\x94\xA5 \xE2\x80\xA8",
       "\xC3\xA4 \xE2\x82\xAC \xF0\x9F\x94\xA5 \xE2\x80\xA8"},
      // Not UTF-8: a lone continuation byte, a cut sequence, an overlong slash, a surrogate,
      // beyond U+10FFFF: each bad byte becomes U+FFFD.
      {"a\x80z", "a\xEF\xBF\xBDz"},
      {"\xE2\x82", "\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"\xF4\x90\x80\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
  };
  for (const auto& row : rows) {
    ServiceRecord record;
    record.steps = {row.in};
    record.instrument = ServiceRecordInstrument{row.in, "", "", "", std::nullopt, ""};
    const std::string line = serviceRecordJson(record);
    for (const char c : line) ASSERT_GE(static_cast<unsigned char>(c), 0x20) << line;
    ServiceRecord back;
    ASSERT_TRUE(parseRecordLine(line, back)) << line;
    ASSERT_EQ(back.steps.size(), 1u);
    EXPECT_EQ(back.steps[0], row.back) << line;
    EXPECT_EQ(back.instrument->maker, row.back);
  }
  // Escapes another writer may use: surrogate pairs, a lone surrogate.
  const Json value = parseJson(R"("\ud83d\udd25 \u00e4 \udc00")");
  ASSERT_FALSE(value.is_discarded());
  EXPECT_EQ(jsonTextOf(&value), "\xF0\x9F\x94\xA5 \xC3\xA4 \xEF\xBF\xBD");
}

TEST(ServiceRecord, reader_skips_what_is_not_a_record) {
  const std::string rejected[] = {
      "",
      "garbage",
      "[1,2]",
      "\"text\"",
      "{",
      R"({"record":1)",
      R"({"a":})",
      R"({"a" 1})",
      R"({"a":1,})",
      R"({"a":01})",
      R"({"a":1.})",
      R"({"a":-})",
      R"({"a":"\x"})",
      R"({"a":"\u12G4"})",
      std::string("{\"a\":\"\x01\"}"),
      R"({"a":1} x)",
      R"({"a":tru})",
      std::string(100, '[') + std::string(100, ']'),  // deeper than any record
  };
  for (const std::string& line : rejected) {
    ServiceRecord record;
    EXPECT_FALSE(parseRecordLine(line, record)) << line;
  }
  // Keys of the wrong type are left unset; the record still counts.
  ServiceRecord record;
  ASSERT_TRUE(parseRecordLine(
      R"({"start":5,"port":7,"instrument":"x","result":{"code":"1"},"duration_s":1e999})", record));
  EXPECT_FALSE(record.start);
  EXPECT_EQ(record.port, "");
  EXPECT_FALSE(record.instrument);
  EXPECT_FALSE(record.result);
}

TEST(ServiceRecord, two_processes_appending_at_once_lose_nothing) {
  TempDir dir;
  const std::string path = dir.file("state/zelupdate/history.jsonl");
  pid_t children[2];
  for (int child = 0; child < 2; ++child) {
    children[child] = ::fork();
    if (children[child] == 0) {
      ServiceRecord record = fullRecord();
      record.user = "child-" + std::to_string(child);
      record.steps.assign(60, std::string(100, 'x'));  // lines beyond the pipe's atomic size
      for (int i = 0; i < 100; ++i) {
        record.instrument->serial = std::to_string(i);
        if (!appendRecord(path, record, nullptr)) ::_exit(1);
      }
      ::_exit(0);
    }
  }
  for (const pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  std::map<std::string, int> perChild;
  const std::vector<std::string> stored = lines(dir.read("state/zelupdate/history.jsonl"));
  ASSERT_EQ(stored.size(), 200u);
  for (const std::string& line : stored) {
    ServiceRecord record;
    ASSERT_TRUE(parseRecordLine(line, record));
    ++perChild[record.user];
  }
  EXPECT_EQ(perChild["child-0"], 100);
  EXPECT_EQ(perChild["child-1"], 100);
}

TEST(ServiceRecord, history_that_cannot_be_written_is_reported_without_blocking) {
  TempDir dir;
  ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
  ASSERT_EQ(::mkfifo(dir.file("read-fifo").c_str(), 0600), 0);
  const int reader = ::open(dir.file("read-fifo").c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  dir.write("plain", "");
  const std::string paths[] = {"/dev/full", dir.file("fifo"), dir.file("read-fifo"), dir.path(),
                               dir.file("plain/history.jsonl")};
  for (const std::string& path : paths) {
    const auto begin = std::chrono::steady_clock::now();
    std::string why;
    EXPECT_FALSE(appendRecord(path, fullRecord(), &why)) << path;
    EXPECT_FALSE(why.empty()) << path;
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(1)) << path;
  }
  ::close(reader);

  // A disk that fills in the middle of the line: the line is taken back, the file keeps its
  // whole lines. (A file size limit stands in for the full disk, in a child of its own.)
  const std::string history = dir.file("history.jsonl");
  ASSERT_TRUE(appendRecord(history, fullRecord(), nullptr));
  const std::string before = dir.read("history.jsonl");
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{before.size() + 100, before.size() + 100};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    ::_exit(appendRecord(history, fullRecord(), nullptr) ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(dir.read("history.jsonl"), before);
}

TEST(ServiceRecord, history_reads_back_filtered_oldest_first) {
  TempDir dir;
  const std::string path = dir.file("history.jsonl");
  // A node with a stable link to it, COM9 mapped to the node.
  const std::string node = dir.file("ttyFAKE0");
  const std::string link = dir.file("by-id-adapter");
  dir.write("ttyFAKE0", "");
  std::filesystem::create_symlink(node, link);
  serial::setComPortDevice(9, node);
  const struct {
    const char* start;
    const char* serial;
    std::string port;    // as given
    std::string device;  // as resolved then
  } runs[] = {{"2026-12-07T10:00:00Z", "B", "COM5", "/dev/ttyUSB0"},
              {"2026-11-30T23:59:59Z", "A", "COM6", "/dev/ttyUSB1"},
              {"2026-12-01T00:00:00Z", "A", "sim:hw=0x11000", "sim:hw=0x11000"},
              {"2026-12-02T00:00:00Z", "C", "COM15", "/dev/ttyACM2"},
              {"2026-12-03T00:00:00Z", "D", "/dev/ttyACM2", "/dev/ttyACM2"},
              {"2026-12-04T00:00:00Z", "E", link, link},
              {"2026-12-05T00:00:00Z", "F", "COM9", node}};
  // A writer that crashed left a line without its end; garbage lines around the records.
  dir.write("history.jsonl", "not json\n\n[1]\n\xFF\xFE\n{\"record\":1,\"outc");
  for (const auto& run : runs) {
    ServiceRecord record = fullRecord();
    record.start = utc(run.start);
    record.instrument->serial = run.serial;
    record.port = run.port;
    record.device = run.device;
    std::string why;
    ASSERT_TRUE(appendRecord(path, record, &why)) << why;
  }
  const struct {
    HistoryFilter filter;
    std::string serials;
  } rows[] = {
      {{}, "AACDEFB"},
      {{"A", "", std::nullopt}, "AA"},
      {{"", "COM5", std::nullopt}, "B"},
      {{"", "/dev/ttyUSB0", std::nullopt}, "B"},  // the device it resolved to
      {{"", "", utc("2026-12-01T00:00:00Z")}, "ACDEFB"},
      {{"G", "", std::nullopt}, ""},
      // A port in every form that a run takes: the runs of that port, by name or device.
      {{"", "15", std::nullopt}, "CD"},
      {{"", "com15", std::nullopt}, "CD"},
      {{"", "COM15", std::nullopt}, "CD"},
      {{"", "/dev/ttyACM2", std::nullopt}, "CD"},
      {{"", "/dev/../dev/ttyACM2", std::nullopt}, "CD"},
      {{"", "9", std::nullopt}, "EF"},  // mapped to the node the link leads to
      {{"", link, std::nullopt}, "EF"},
      {{"", node, std::nullopt}, "EF"},
      {{"", "sim:hw=0x11000", std::nullopt}, "A"},
      {{"", "COM6", std::nullopt}, "A"},
      {{"", "not-a-port", std::nullopt}, ""},
  };
  for (const auto& row : rows) {
    std::vector<StoredRecord> records;
    ASSERT_TRUE(readHistory(path, row.filter, records, nullptr));
    std::string serials;
    for (const StoredRecord& stored : records) serials += stored.record.instrument->serial;
    EXPECT_EQ(serials, row.serials) << row.filter.port;
  }
  serial::resetComPortMapping();
  std::vector<StoredRecord> records;
  EXPECT_TRUE(readHistory(dir.file("none.jsonl"), {}, records, nullptr));
  EXPECT_TRUE(records.empty());
  std::string why;
  EXPECT_FALSE(readHistory(dir.path(), {}, records, &why));
  EXPECT_EQ(why, "not a regular file");
}

TEST(ServiceRecord, default_path_and_dates) {
  const char* oldState = std::getenv("XDG_STATE_HOME");
  const std::string savedState = oldState ? oldState : "";
  const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
  ::setenv("XDG_STATE_HOME", "/var/state", 1);
  EXPECT_EQ(defaultHistoryPath(), "/var/state/zelupdate/history.jsonl");
  ::setenv("XDG_STATE_HOME", "relative", 1);  // not absolute: ignored
  EXPECT_EQ(defaultHistoryPath(), home + "/.local/state/zelupdate/history.jsonl");
  ::unsetenv("XDG_STATE_HOME");
  EXPECT_EQ(defaultHistoryPath(), home + "/.local/state/zelupdate/history.jsonl");
  if (oldState) ::setenv("XDG_STATE_HOME", savedState.c_str(), 1);

  std::time_t when = 0;
  EXPECT_TRUE(parseHistoryDate("2026-12-07", when));
  EXPECT_EQ(isoUtc(when), "2026-12-07T00:00:00Z");
  for (const char* bad : {"2026-02-30", "2026-12-7", "07.12.2026", "2026-12-07x", ""})
    EXPECT_FALSE(parseHistoryDate(bad, when)) << bad;
  EXPECT_FALSE(parseIsoUtc("2026-12-07T18:42:47", when));
  EXPECT_FALSE(parseIsoUtc("2026-12-07T24:00:00Z", when));
}

struct CommandOutput {
  int status;
  std::string out;
  std::string err;
};

CommandOutput run(int (*command)(const std::vector<std::string>&, const CommonOptions&),
                  const std::vector<std::string>& args) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  const int status = command(args, CommonOptions{});
  return {status, testing::internal::GetCapturedStdout(), testing::internal::GetCapturedStderr()};
}

TEST(ServiceRecordCommands, explain_gives_the_meaning_or_says_it_has_none) {
  const struct {
    std::vector<std::string> args;
    int status;
    const char* text;
  } rows[] = {
      {{"20113"}, kExitOk, "20113 (decimal 131347): program data: the receive of a chunk's"},
      {{"5101135"}, kExitOk, "receive phase: 1 (waiting for the length byte)"},
      {{"FFFF"}, kExitOk, "cancelled by the user"},
      {{"--decimal", "1281"}, kExitOk, "501 (decimal 1281): syntax error"},
      {{"--decimal", "-2"}, kExitOk, "FFFFFFFE (decimal -2)"},
      {{"12345"}, kExitFailed, "12345 (decimal 74565): not a result code of zelupdate"},
      {{"10113"}, kExitFailed, "    stage +10000: the send of a chunk\n    code 113: answer"},
      {{"1281"}, kExitFailed, "read as decimal (--decimal), 1281 is 501: syntax error"},
      {{"-2"}, kExitUsage, ""},  // a sign on a hex code
      {{"xyz"}, kExitUsage, ""},
      {{}, kExitUsage, ""},
      {{"1", "2"}, kExitUsage, ""},
  };
  for (const auto& row : rows) {
    const CommandOutput result = run(commandExplain, row.args);
    EXPECT_EQ(result.status, row.status) << result.out << result.err;
    EXPECT_NE(result.out.find(row.text), std::string::npos) << result.out;
    if (row.status == kExitUsage) {
      EXPECT_EQ(result.err.rfind("zelupdate explain: ", 0), 0u) << result.err;
    }
  }
}

TEST(ServiceRecordCommands, history_prints_a_table_or_the_stored_lines) {
  TempDir dir;
  const std::string path = dir.file("h.jsonl");
  ServiceRecord failed = fullRecord();
  ServiceRecord success = fullRecord();
  success.start = utc("2026-12-06T09:00:00Z");
  // No control character reaches the terminal: C0, C1 (CSI), right-to-left override, and
  // no byte that is not UTF-8.
  success.instrument->serial = "100124\x1b[2J\xc2\x9b\xe2\x80\xae\xff";
  success.result = 0;
  success.outcome = "success";
  success.durationSeconds = 3725;
  ASSERT_TRUE(appendRecord(path, failed, nullptr));
  ASSERT_TRUE(appendRecord(path, success, nullptr));

  CommandOutput result = run(commandHistory, {"--history", path});
  ASSERT_EQ(result.status, kExitOk) << result.err;
  EXPECT_EQ(lines(result.out),
            (std::vector<std::string>{
                "when (UTC)           port  instrument         version       updated       "
                "outcome     duration",
                // The byte that is not UTF-8 was stored as U+FFFD.
                "2026-12-06 09:00:00  COM5  SFQ 100124?[2J??\xef\xbf\xbd  3.08 -> 3.12  "
                "processor+B1  success     1h02m",
                "2026-12-07 18:42:47  COM5  SFQ 100123         3.08 -> 3.12  processor+B1  "
                "failed 414  1m24s"}));
  // The stored lines, with the same escapes JSON would write for those characters.
  result = run(commandHistory, {"--json", "--history", path});
  EXPECT_NE(result.out.find("100124\\u001B[2J\\u009b\\u202e\xef\xbf\xbd\""), std::string::npos)
      << result.out;

  result = run(commandHistory, {"--json", "--since", "2026-12-07", "--history", path});
  EXPECT_EQ(result.out, serviceRecordJson(failed) + "\n");
  result = run(commandHistory, {"--serial", "nobody", "--history", path});
  EXPECT_EQ(result.out, "no service records in " + path + "\n");
  EXPECT_EQ(run(commandHistory, {"--since", "yesterday"}).status, kExitUsage);
  EXPECT_EQ(run(commandHistory, {"--serial"}).status, kExitUsage);
  EXPECT_EQ(run(commandHistory, {"--history", dir.path()}).status, kExitFailed);
}

}  // namespace
