// Runs refused before update mode: bad words, files and ports end with their message and
// exit status; an update set that is incomplete, or an image that does not fit the flash the
// job erases, ends the run before the instrument is switched over.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "tests/cli/run_command_test_program.h"

namespace cli_test {
namespace {

TEST(RunCommandTest, bad_input_ends_with_its_message_and_exit_status) {
  struct Row {
    const char* name;
    std::vector<std::string> args;
    std::vector<std::string> missingFiles;
    int status;
    std::string outHas;  // in standard output
    std::string errHas;  // in standard error; the first line when errFirst
    bool errFirst;
    bool portUntouched;  // nothing opened, nothing sent: the trace stays empty
  };
  const Row rows[] = {
      {"B10 needs the memory extension",
       {"--manual", "--memory-extension", "no", "--option", "B10"},
       {},
       2,
       "",
       "ERROR  \nATSC / DVB-T TV Digital Demodulator\nupdate not possible without memory "
       "extension\n",
       true,
       true},
      {"option update without an option",
       {"--manual", "--option-update"},
       {},
       2,
       "",
       "ERROR - choose only one: B1 or B10 or B20\n",
       true,
       true},
      {"selections without --manual",
       {"--option", "B1"},
       {},
       2,
       "",
       "zelupdate run: selections need --manual (see zelupdate run --help)\n",
       true,
       true},
      {"transcript that cannot be created",
       {"--transcript", "no/such/folder/t.txt"},
       {},
       2,
       "",
       "zelupdate run: cannot create transcript file no/such/folder/t.txt: No such file or "
       "directory\n",
       true,
       true},
      {"transcript to a FIFO that nobody reads",
       {"--transcript", "fifo"},
       {},
       2,
       "",
       "zelupdate run: cannot create transcript file fifo: a FIFO that nobody reads\n",
       true,
       true},
      {"trace to a FIFO that nobody reads",
       {"--trace", "fifo"},
       {},
       2,
       "",
       "zelupdate: cannot create trace file fifo: a FIFO that nobody reads\n",
       true,
       true},
      // Files that cannot take what is written: said once at the end, the run's status stays.
      {"transcript and trace on a full device",
       {"--port", "sim:hw=0x11000", "--transcript", "/dev/full", "--trace", "/dev/full"},
       {},
       0,
       "Update successfully completed.",
       "zelupdate run: cannot write transcript file /dev/full: No space left on device\n"
       "zelupdate: cannot write trace file /dev/full: No space left on device\n",
       false,
       false},
      {"settings that are a FIFO",
       {"--settings", "fifo", "--port", "sim:hw=0x11000"},
       {},
       0,
       "Update successfully completed.",
       "zelupdate: settings file fifo left untouched: not a regular file\n",
       false,
       false},
      {"settings that are an endless device",
       {"--settings", "/dev/zero", "--port", "sim:hw=0x11000"},
       {},
       0,
       "Update successfully completed.",
       "zelupdate: settings file /dev/zero left untouched: not a regular file\n",
       false,
       false},
      {"simulated port with an unknown option",
       {"--port", "sim:colour=red"},
       {},
       2,
       "",
       "zelupdate run: ",
       true,
       true},
      {"port name of no accepted form",
       {"--port", "abc"},
       {},
       2,
       "",
       "zelupdate run: --port: not a port: abc (COM numbers are 1 to 15",
       true,
       true},
      {"COM number 0",
       {"--port", "COM0"},
       {},
       2,
       "",
       "zelupdate run: --port: not a port: COM0 (",
       true,
       true},
      {"COM number beyond the list",
       {"--port", "com99"},
       {},
       2,
       "",
       "zelupdate run: --port: not a port: com99 (",
       true,
       true},
      {"control characters in a port name",
       {"--port", "\x1b[2Jx"},
       {},
       2,
       "",
       "zelupdate run: --port: not a port: \\x1b[2Jx (",
       true,
       true},
      // The run's own lines and boxes tell the rest, and it did not succeed.
      {"device that does not exist",
       {"--port", "/dev/zel-no-such-port\a"},
       {},
       1,
       "[stop] ERROR -\n       check RS232 cable,\n",
       "zelupdate run: /dev/zel-no-such-port\\x07: no such device\n",
       true,
       false},
      {"silent instrument",
       {"--port", "sim:fault=silent"},
       {},
       1,
       "Autoconnect with device\n[stop] ERROR -\n",
       "",
       false,
       false},
      {"missing firmware image",
       {"--port", "sim:hw=0x11000"},
       {"NO_ATSC.bin", "NO_DVBT.bin"},
       1,
       "Programfile NO_ATSC.BIN not accessible\n",
       "",
       false,
       false},
      // A manual run that only writes the configuration file succeeds with it.
      {"manual run without updates",
       {"--manual", "--processor-firmware", "no", "--port", "sim:"},
       {},
       0,
       "Manual mode with settings in configuration menu\nCreate configuration file\nOK    "
       "Create configuration file\n",
       "",
       false,
       false},
  };
  for (const Row& row : rows) {
    TempDir dir(false);
    writeUpdateSet(dir, row.missingFiles);
    ::mkfifo(dir.file("fifo").c_str(), 0600);
    std::vector<std::string> args = {"run", "--assume-yes", "--trace", "trace.txt"};
    args.insert(args.end(), row.args.begin(), row.args.end());
    const Result result = runProgram(dir, args);
    EXPECT_EQ(result.status, row.status) << row.name << "\n" << result.out << result.err;
    EXPECT_NE(result.out.find(row.outHas), std::string::npos) << row.name << "\n" << result.out;
    if (row.errFirst) {
      EXPECT_EQ(result.err.rfind(row.errHas, 0), 0u) << row.name << "\n" << result.err;
    } else {
      EXPECT_EQ(result.err, row.errHas) << row.name;
    }
    if (row.portUntouched) {
      EXPECT_EQ(result.out, "") << row.name;
      EXPECT_EQ(dir.read("trace.txt"), "") << row.name;
      EXPECT_EQ(dir.read("ROMWRITE.CNF"), "") << row.name;
    }
  }
}

// Everything a run needs is checked before the instrument is switched into update mode: a
// failure ends the run (exit 1) with the line and the box of the check, and neither
// SENSE:SWUP nor a front-panel instruction reaches the instrument or the user.
TEST(RunCommandTest, the_update_set_is_checked_before_update_mode) {
  struct Row {
    const char* name;
    std::vector<std::string> args;
    bool emptyFolder;
    std::string emptyFile;  // made 0 bytes long
    bool configIsFolder;    // ROMWRITE.CNF cannot be written
    std::string outHas;
  };
  const Row rows[] = {
      {"empty folder",
       {"--port", "sim:hw=0x11000"},
       true,
       "",
       false,
       "ERROR - check GENERAL:  update aborted\nBootstraploader ROMWRITE.URL not accessible\n"
       "[stop] Bootstraploader ROMWRITE.URL not accessible\n       -> OK\nUpdate files looked for "
       "in DIR\n"},
      {"empty firmware image",
       {"--port", "sim:hw=0x10000"},
       false,
       "NO_ATSC.bin",
       false,
       "[stop] Programfile NO_ATSC.BIN not accessible\n       -> OK\nUpdate files looked for in "
       "DIR\n"},
      {"empty DSP image",
       {"--port", "sim:hw=0x11000"},
       false,
       "ATSC.BIN",
       false,
       "ERROR - DSP file could not be opened\n[stop] DSP file ATSC.BIN not accessible\n"
       "       -> OK\nUpdate files looked for in DIR\n"},
      {"manual, empty transfer program",
       {"--manual", "--port", "sim:hw=0x10000"},
       false,
       "ROMWRITE.TRA",
       false,
       "[stop] Transferprogram ROMWRITE.TRA not accessible\n       -> OK\nUpdate files looked for "
       "in DIR\n"},
      {"manual, ROMWRITE.CNF not writable",
       {"--manual", "--port", "sim:hw=0x10000"},
       false,
       "",
       true,
       "ERROR Create configuration file\n"},
  };
  for (const Row& row : rows) {
    TempDir dir(false);
    if (!row.emptyFolder) writeUpdateSet(dir);
    if (!row.emptyFile.empty()) dir.write(row.emptyFile, "");
    if (row.configIsFolder) {
      ::unlink(dir.file("ROMWRITE.CNF").c_str());
      ::mkdir(dir.file("ROMWRITE.CNF").c_str(), 0755);
    }
    std::vector<std::string> args = {"run", "--assume-yes", "--trace", "trace.txt"};
    args.insert(args.end(), row.args.begin(), row.args.end());
    const Result result = runProgram(dir, args);
    EXPECT_EQ(result.status, 1) << row.name << "\n" << result.out;
    // The line after the box names the folder the files were looked for in.
    std::string outHas = row.outHas;
    if (const size_t at = outHas.find("DIR"); at != std::string::npos)
      outHas.replace(at, 3, dir.path());
    EXPECT_NE(result.out.find(outHas), std::string::npos) << row.name << "\n" << result.out;
    EXPECT_EQ(result.out.find("update mode"), std::string::npos) << row.name << "\n" << result.out;
    EXPECT_EQ(result.out.find("ZEL settings before update"), std::string::npos) << row.name;
    EXPECT_EQ(dir.read("trace.txt").find("SWUP"), std::string::npos) << row.name;
  }
}

// A run never erases for an image it cannot program: an image that runs past the flash the
// job erases (or past its bank) is refused before update mode by the real run, the manual
// run and the dry run alike, with the file, its size and the room. `check` passes the job.
TEST(RunCommandTest, an_image_that_does_not_fit_is_refused_before_update_mode) {
  const std::vector<std::string> manualProcessor = {
      "--manual", "--memory-extension", "yes", "--option", "B20", "--processor-firmware", "yes",
      "--port",   "sim:hw=0x11000"};
  struct Row {
    const char* name;
    std::vector<std::string> args;
    const char* image;
    size_t bytes;
    int status;
    std::string outHas;  // empty: the run is not refused
  };
  const std::string mebibyte =
      "ERROR - program file does not fit: update aborted\n[stop] NO_DVBT.BIN is 1048576 bytes; "
      "the erased area 0x50000-0xEFFFF holds 655360\n";
  const Row rows[] = {
      {"1 MiB image", {"--port", "sim:hw=0x11000"}, "NO_DVBT.bin", 1 << 20, 1, mebibyte},
      {"1 MiB image, dry run",
       {"--dry-run", "--port", "sim:hw=0x11000"},
       "NO_DVBT.bin",
       1 << 20,
       1,
       mebibyte},
      {"one byte over",
       {"--port", "sim:hw=0x11000"},
       "NO_DVBT.bin",
       655361,
       1,
       "[stop] NO_DVBT.BIN is 655361 bytes; the erased area 0x50000-0xEFFFF holds 655360\n"},
      {"1 MiB image, manual", manualProcessor, "NO_DVBT.bin", 1 << 20, 1, mebibyte},
      // The check of the job already keeps an image inside its bank.
      {"one byte past the bank",
       {"--manual", "--memory-extension", "no", "--port", "sim:hw=0"},
       "NO_NICA.bin",
       0x80001,
       1,
       "[stop] NO_NICA.BIN is not completely in one flash-memory bank\n"},
      // An option update alone programs no image: the job's images are not its concern.
      {"1 MiB image, manual option update only",
       {"--manual", "--memory-extension", "yes", "--option", "B20", "--processor-firmware", "no",
        "--port", "sim:hw=0x11000"},
       "NO_DVBT.bin",
       1 << 20,
       0,
       ""},
  };
  for (const Row& row : rows) {
    TempDir dir(false);
    writeUpdateSet(dir);
    dir.writeSized(row.image, row.bytes);
    std::vector<std::string> args = {"run", "--assume-yes", "--trace", "trace.txt"};
    args.insert(args.end(), row.args.begin(), row.args.end());
    const Result result = runProgram(dir, args);
    EXPECT_EQ(result.status, row.status) << row.name << "\n" << result.out << result.err;
    if (row.outHas.empty()) {
      EXPECT_NE(dir.read("trace.txt").find("SWUP"), std::string::npos) << row.name;
      continue;
    }
    EXPECT_NE(result.out.find(row.outHas), std::string::npos) << row.name << "\n" << result.out;
    EXPECT_EQ(result.out.find("update mode"), std::string::npos) << row.name << "\n" << result.out;
    EXPECT_EQ(result.out.find("Delete flash"), std::string::npos) << row.name;
    EXPECT_EQ(result.out.find("ZEL settings before update"), std::string::npos) << row.name;
    EXPECT_EQ(result.out.find("  estimate  "), std::string::npos) << row.name;
    EXPECT_EQ(dir.read("trace.txt").find("SWUP"), std::string::npos) << row.name;
    // The record: refused, with the code and the words of the box, and the files it checked.
    const std::vector<StoredRecord> records = recordsOf(dir);
    ASSERT_EQ(records.size(), 1u) << row.name;
    EXPECT_EQ(records[0].record.outcome, "refused") << row.name;
    EXPECT_NE(records[0].record.result.value_or(0), 0) << row.name;
    std::string image = row.image;
    std::transform(image.begin(), image.end(), image.begin(), ::toupper);
    EXPECT_NE(records[0].line.find("\"meaning\":\"" + image), std::string::npos) << records[0].line;
    EXPECT_GE(records[0].record.files.size(), 3u) << row.name;
    if (row.args.front() == "--dry-run" || row.image != std::string("NO_DVBT.bin")) continue;
    // The check refuses what the run refuses, with the same line.
    const Result check = runProgram(dir, {"check"});
    EXPECT_EQ(check.status, 1) << row.name << "\n" << check.out;
    EXPECT_EQ(check.out.rfind("ERROR - program file does not fit: update aborted\n", 0), 0u)
        << row.name;
  }
}

}  // namespace
}  // namespace cli_test
