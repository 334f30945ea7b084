#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

#include "cli/command_line.h"
#include "tests/support/temp_dir.h"

namespace {

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

// A settings file that does not exist: the port then defaults to COM1.
CommonOptions commonOptions(const testing_support::TempDir& dir) {
  CommonOptions common;
  common.programPath = "zelupdate";
  common.settingsFile = dir.file("absent.ini");
  return common;
}

Outcome check(const testing_support::TempDir& dir, const std::vector<std::string>& args) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  const int status = commandCheck(args, commonOptions(dir));
  std::string out = testing::internal::GetCapturedStdout();
  return {status, out, testing::internal::GetCapturedStderr()};
}

Outcome generate(const testing_support::TempDir& dir, const std::vector<std::string>& args) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  const int status = commandGenerate(args, commonOptions(dir));
  std::string out = testing::internal::GetCapturedStdout();
  return {status, out, testing::internal::GetCapturedStderr()};
}

TEST(Commands, generate_then_check_in_an_update_folder) {
  testing_support::TempDir dir;
  dir.writeSized("NO_DVBT.bin", 0x90000);
  const Outcome written = generate(dir, {"--hw", "0x11000", "--port", "3", "--option-update"});
  ASSERT_EQ(written.status, kExitOk) << written.err;
  EXPECT_EQ(written.out,
            "ROMWRITE.CNF written: COM3, NO_DVBT.bin at 0x50000 (AM29F040 bank, memory "
            "extension)\n");
  EXPECT_EQ(dir.read("ROMWRITE.CNF"),
            "; ROMWRITE.CNF\n[HOST]\nUART = COM3\nBAUD = 115200\nFLASHUPSTRING = NO\n"
            "URLADER = ROMWRITE.URL\nTRANSFER = ROMWRITE.TRA, 0x100, 0x100\nCONTINUE = YES\n"
            "[TARGET]\nPROCESSOR = I80X86\nARCHITECTURE = B16\n"
            "MEMORY = 0x50000,0x100000,AM29F040\nERASE  = 0x50000,0xA0000\n[FILES]\n"
            "PROGRAM = 0x50000, NO_DVBT.bin\n; end of file\n");

  dir.writeSized("romwrite.tra", 0x2000);
  Outcome checked = check(dir, {"ROMWRITE.CNF"});
  EXPECT_EQ(checked.status, kExitFailed);
  EXPECT_EQ(checked.out,
            "ERROR - check GENERAL:  update aborted\nBootstraploader ROMWRITE.URL not "
            "accessible\nresult 1537\n");

  dir.writeSized("ROMWRITE.URL", 0x200);
  checked = check(dir, {"ROMWRITE.CNF"});
  EXPECT_EQ(checked.status, kExitOk);
  EXPECT_EQ(checked.out, "Check OK !\n");

  // One byte past the area that the job erases for it: the update refuses it, so does check.
  dir.writeSized("NO_DVBT.bin", 0xA0001);
  checked = check(dir, {});
  EXPECT_EQ(checked.status, kExitFailed);
  EXPECT_EQ(checked.out,
            "ERROR - program file does not fit: update aborted\nNO_DVBT.BIN is 655361 bytes; the "
            "erased area 0x50000-0xEFFFF holds 655360\nresult 1541\n");

  dir.writeSized("NO_DVBT.bin", 0x100001);  // larger than the bank
  checked = check(dir, {});                 // romwrite.cnf by default
  EXPECT_EQ(checked.status, kExitFailed);
  EXPECT_EQ(checked.out,
            "ERROR - check GENERAL:  update aborted\nNO_DVBT.BIN is not completely in one "
            "flash-memory bank\nresult 1537\n");
}

TEST(Commands, check_reports_reader_failures) {
  testing_support::TempDir dir;
  struct Row {
    const char* contents;   // nullptr: no file
    std::string diagnosis;  // where and why, between the update's line and the result
    const char* resultLine;
  };
  const std::string host =
      "[HOST]\nUART = COM3\nBAUD = 115200\nFLASHUPSTRING = NO\nURLADER = ROMWRITE.URL\n"
      "TRANSFER = ROMWRITE.TRA, 0x100, 0x100\nCONTINUE = YES\n[TARGET]\nPROCESSOR = I80X86\n";
  const std::string chip = host + "ARCHITECTURE = B16\n; bank\nMEMORY = 0, 0x1000, AM29F080\n";
  const std::string longName = std::string(80, 'N');
  const std::string name = host + "ARCHITECTURE B16\n[FILES]\nPROGRAM 0 " + longName;
  const std::string extra = host + "ARCHITECTURE B16\n[FILES]\nPROGRAM 0 A.BIN\nA.BIN";
  const Row rows[] = {
      {nullptr, "romwrite.cnf: cannot be read", "result -2"},
      {"", "romwrite.cnf: the file is empty", "result -1"},
      {"[HOST] UART", "romwrite.cnf:1: UART end of file: a name expected", "result 1281"},
      {"[HOST]\r\nuart\x01", "romwrite.cnf:2: [HOST] uart\\x01: UART expected", "result 1281"},
      {chip.c_str(), "romwrite.cnf:12: MEMORY AM29F080: unknown chip type", "result 1281"},
      {name.c_str(), "romwrite.cnf:12: PROGRAM " + longName + ": longer than 79 characters",
       "result 1281"},
      {extra.c_str(),
       "romwrite.cnf:13: A.BIN: out of place (more than 10 entries of a kind, or after the "
       "last entry)",
       "result 1281"},
  };
  for (const Row& row : rows) {
    if (row.contents) dir.write("romwrite.cnf", row.contents);
    const Outcome checked = check(dir, {});
    EXPECT_EQ(checked.status, kExitFailed);
    EXPECT_EQ(checked.out, std::string("ERROR - check ROMWRITE.CNF:  update aborted\n") +
                               row.diagnosis + "\n" + row.resultLine + "\n");
  }
  EXPECT_EQ(check(dir, {"a", "b"}).status, kExitUsage);
  EXPECT_EQ(check(dir, {"--bogus"}).status, kExitUsage);
}

TEST(Commands, generate_manual_selections) {
  struct Row {
    std::vector<std::string> args;
    int status;
    const char* image;    // expected program image when written
    const char* refusal;  // expected message when refused
  };
  const Row rows[] = {
      {{"--manual"}, kExitOk, "NO_ATSC.bin", nullptr},
      {{"--manual", "--option", "b1", "--option-update", "no"}, kExitOk, "QAM_B1.bin", nullptr},
      {{"--manual", "--memory-extension", "no", "--option", "B1", "--processor-firmware", "no"},
       kExitOk,
       "NO_NICA.bin",  // without extension the option chooses no image
       nullptr},
      // An option update needs an option.
      {{"--manual", "--option-update"},
       kExitUsage,
       nullptr,
       "ERROR - choose only one: B1 or B10 or B20\n"},
      // B10 and B20 need the memory extension.
      {{"--manual", "--memory-extension", "no", "--option", "B10"},
       kExitUsage,
       nullptr,
       "ERROR  \nATSC / DVB-T TV Digital Demodulator\nupdate not possible without memory "
       "extension\n"},
      {{"--manual", "--memory-extension", "no", "--option", "B20", "--option-update", "no"},
       kExitUsage,
       nullptr,
       "ERROR  \nATSC / DVB-T TV Digital Demodulator\nupdate not possible without memory "
       "extension\n"},
  };
  for (const Row& row : rows) {
    testing_support::TempDir dir;
    const Outcome outcome = generate(dir, row.args);
    EXPECT_EQ(outcome.status, row.status) << row.args.back();
    if (row.image) {
      EXPECT_NE(dir.read("ROMWRITE.CNF").find(std::string(", ") + row.image + "\n"),
                std::string::npos)
          << row.image;
      EXPECT_NE(dir.read("ROMWRITE.CNF").find("UART = COM1\n"), std::string::npos);
    } else {
      EXPECT_EQ(outcome.err, row.refusal);
      EXPECT_EQ(dir.read("ROMWRITE.CNF"), "") << "nothing written when refused";
    }
  }
}

TEST(Commands, generate_usage_errors) {
  const std::vector<std::string> rows[] = {
      {},                                  // neither --hw nor --manual
      {"--hw", "0x10000", "--manual"},     // both
      {"--hw", "0x"},                      // no digits
      {"--hw", "65536x"},                  // trailing garbage
      {"--hw", "1", "--port", "0"},        // COM numbers start at 1
      {"--hw", "1", "--port", "1000000"},  // would not fit the UART value
      {"--hw", "1", "--option", "B1"},     // selections need --manual
      {"--manual", "--option", "B2"},      // unknown option
      {"--manual", "--extra"},
  };
  for (const std::vector<std::string>& args : rows) {
    testing_support::TempDir dir;
    EXPECT_EQ(generate(dir, args).status, kExitUsage) << ::testing::PrintToString(args);
    EXPECT_EQ(dir.read("ROMWRITE.CNF"), "");
  }
}

TEST(Commands, generate_reports_a_file_it_cannot_create) {
  testing_support::TempDir dir;
  // A folder of that name in another case blocks it, even for root.
  ASSERT_EQ(::mkdir(dir.file("rOmWrItE.cNf").c_str(), 0755), 0);
  const Outcome outcome = generate(dir, {"--hw", "65536"});
  EXPECT_EQ(outcome.status, kExitFailed);
  EXPECT_EQ(outcome.err, "zelupdate generate: cannot create ROMWRITE.CNF\n");
}

// Every refusal comes before the instrument is made or anything listens.
TEST(Commands, simulate_usage_errors) {
  struct Row {
    std::vector<std::string> args;
    const char* said;
  };
  const Row rows[] = {
      {{"--rfc2217", "127.0.0.1:65536"}, "takes [HOST:]PORT"},
      {{"--rfc2217", "host:"}, "takes [HOST:]PORT"},
      {{"--rfc2217", "[::1]2001"}, "takes [HOST:]PORT"},
      {{"--rfc2217", "2001", "--pty"}, "exclude each other"},
      {{"speed=virtual"}, "speed=virtual cannot serve"},
      // A client in real time cannot keep pace with a faster instrument.
      {{"speed=20"}, "speed=20: a client in another program runs in real time"},
      {{"state=/proc/zel-state"}, "state=/proc/zel-state: not a folder"},
      {{"hw=0x11000", "colour=red"}, "colour"},
      {{"--listen"}, "unknown option '--listen'"},
      {{"hw"}, "unexpected argument 'hw' (the instrument's options are KEY=VALUE)"},
  };
  testing_support::TempDir dir;
  for (const Row& row : rows) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const int status = commandSimulate(row.args, commonOptions(dir));
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(status, kExitUsage) << ::testing::PrintToString(row.args);
    EXPECT_NE(err.find(row.said), std::string::npos) << err;
    EXPECT_EQ(out, "");
  }
}

}  // namespace
