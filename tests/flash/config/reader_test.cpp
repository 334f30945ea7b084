#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "flash/config/config_reader.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr const char* kHost =
    "[HOST]\nUART = COM1\nBAUD = 115200\nFLASHUPSTRING = NO\nURLADER = ROMWRITE.URL\n"
    "TRANSFER = ROMWRITE.TRA, 0x100, 0x100\nCONTINUE = YES\n";
constexpr const char* kTarget =
    "[TARGET]\nPROCESSOR = I80X86\nARCHITECTURE = B16\n"
    "MEMORY = 0x50000,0x100000,AM29F040\nERASE  = 0x50000,0xA0000\n";
constexpr const char* kFiles = "[FILES]\nPROGRAM = 0x50000, NO_DVBT.bin\n";

std::string repeat(const std::string& entry, int times) {
  std::string text;
  for (int i = 0; i < times; ++i) text += entry;
  return text;
}

int readText(const std::string& contents, ProgrammingJob& job) {
  testing_support::TempDir dir;
  dir.write("ROMWRITE.CNF", contents);
  return readProgrammingConfig(job, "romwrite.cnf");
}

int readText(const std::string& contents) {
  ProgrammingJob job;
  return readText(contents, job);
}

TEST(ReadProgrammingConfig, stores_every_entry) {
  ProgrammingJob job;
  std::memset(&job, 0x5A, sizeof job);  // the reader clears the whole record first
  ASSERT_EQ(readText(std::string(kHost) + kTarget + kFiles +
                         "program 0x1000 second.bin ; comment\n"
                         "UPLOAD 0x7000 0x100 save.bin UPLOAD 0x8000 0x200 two.bin",
                     job),
            kConfigReadOk);
  EXPECT_STREQ(job.uart, "COM1");
  EXPECT_EQ(job.continueFlag, 1);
  EXPECT_STREQ(job.transferFile, "ROMWRITE.TRA");
  EXPECT_EQ(job.transferStartAddress, 0x100u);
  EXPECT_EQ(job.architecture, B16);
  EXPECT_EQ(job.banks[0].chipType, AM29F040);
  EXPECT_EQ(job.eraseAreas[0].length, 0xA0000u);
  EXPECT_STREQ(job.programs[1].fileName, "SECOND.BIN");  // upper-cased, comment dropped
  EXPECT_EQ(job.uploads[1].length, 0x200u);
  // Counts and derived fields are the check's business.
  EXPECT_EQ(job.bankCount, 0);
  EXPECT_EQ(job.banks[0].end, 0u);
  EXPECT_EQ(job.programs[2].fileName[0], '\0');
}

TEST(ReadProgrammingConfig, layout_does_not_matter) {
  const std::string base = std::string(kHost) + kTarget + kFiles;
  const std::string variants[] = {
      // a section per line, lower case, without "=" and with odd separators
      "[host] uart com1 baud 115200 flashupstring no urlader romwrite.url transfer romwrite.tra "
      "0x100 256 continue yes\n[target],processor,i80x86,architecture,b16,memory,0x50000,"
      "0x100000,am29f040 erase\t0x50000 0xa0000\n[files] program 0x50000 no_dvbt.bin",
      // each token on a line of its own, CR LF line ends and comments
      "[HOST]\r\nUART\r\n=\r\nCOM1;port\r\nBAUD\r\n=\r\n115200\r\n;x\r\nFLASHUPSTRING,NO\r\n"
      "URLADER ROMWRITE.URL TRANSFER ROMWRITE.TRA\r\n0x100\r\n0400 CONTINUE Yes\r\n" +
          std::string(kTarget) + kFiles + "; end of file\r\n",
  };
  ProgrammingJob expected;
  ASSERT_EQ(readText(base, expected), kConfigReadOk);
  for (const std::string& text : variants) {
    ProgrammingJob job;
    ASSERT_EQ(readText(text, job), kConfigReadOk) << text;
    EXPECT_STRCASEEQ(job.uart, "COM1");
    EXPECT_EQ(job.transferStartAddress, 0x100u);  // 256 and 0400 too
    EXPECT_EQ(job.continueFlag, 1);
    EXPECT_EQ(job.banks[0].chipType, expected.banks[0].chipType);
    EXPECT_STREQ(job.programs[0].fileName, expected.programs[0].fileName);
  }
}

TEST(ReadProgrammingConfig, flag_values) {
  struct Row {
    const char* value;
    uint8_t flag;
  };
  const Row rows[] = {{"YES", 1}, {"yes", 1}, {"NO", 0}, {"1", 0}, {"TRUE", 0}, {"[TARGET]", 0}};
  for (const Row& row : rows) {
    ProgrammingJob job;
    const std::string text = std::string("[HOST] UART COM1 BAUD 9600 FLASHUPSTRING ") + row.value +
                             " URLADER A TRANSFER B 1 2 CONTINUE " + row.value + " " + kTarget +
                             "[FILES]";
    ASSERT_EQ(readText(text, job), kConfigReadOk) << row.value;
    EXPECT_EQ(job.flashUpString, row.flag) << row.value;
    EXPECT_EQ(job.continueFlag, row.flag) << row.value;
  }
}

TEST(ReadProgrammingConfig, result_codes) {
  const std::string host = kHost;
  const std::string target = kTarget;
  const std::string head = host + target;
  const std::string files = kFiles;
  struct Row {
    std::string text;
    int result;
    const char* why;
  };
  const Row rows[] = {
      {head + files, kConfigReadOk, "the generated layout"},
      {head + "[FILES]", kConfigReadOk, "no PROGRAM or UPLOAD entries"},
      {host + "[TARGET] PROCESSOR TMS320C30 ARCHITECTURE B32 [FILES]", kConfigReadOk,
       "no MEMORY or ERASE entries"},
      {"", kConfigReadEmpty, "empty file"},
      {"\n", kConfigSyntaxError, "holds a character but no entry"},
      {host, kConfigSyntaxError, "ends before [TARGET]"},
      {head + "[FILES] PROGRAM 0x50000", kConfigSyntaxError, "ends inside an entry"},
      {head + files + "x", kConfigSyntaxError, "anything after the last entry"},
      {head + files + "UPLOAD 1 2 A.BIN PROGRAM 3 B.BIN", kConfigSyntaxError,
       "PROGRAM after UPLOAD is out of order"},
      {host + "[TARGET] PROCESSOR I80X86 MEMORY 0 0 AM29F040 ARCHITECTURE B16 [FILES]",
       kConfigSyntaxError, "MEMORY before ARCHITECTURE"},
      {head + "MEMORY 0 0x80000 I28F020 [FILES]", kConfigSyntaxError, "MEMORY after ERASE"},
      {head + "[FILES] PROGRAM 0x50000 UPLOAD", kConfigSyntaxError, "file name spelled as keyword"},
      {head + "[FILES] PROGRAM 0x50000 b16", kConfigSyntaxError, "file name spelled as keyword"},
      {head + "[FILES] PROGRAM 0x50000 1234", kConfigSyntaxError, "file name of digits only"},
      {head + "[FILES] PROGRAM 0x5000G A.BIN", kConfigSyntaxError, "0x5000G is a word"},
      {head + "NOERASE [FILES]", kConfigSyntaxError, "NOERASE is accepted nowhere"},
      {"[HOST] UART COM1 BAUD 9600 FLASHUPSTRING NOERASE URLADER A TRANSFER B 1 2 CONTINUE NO " +
           target + "[FILES]",
       kConfigSyntaxError, "not even as a flag value"},
      {"[HOST] UART COM1 BAUD 0x BAUD", kConfigSyntaxError, "0x alone is a word"},
      {host + "[TARGET] PROCESSOR I8086 ARCHITECTURE B16 [FILES]", kConfigSyntaxError,
       "unknown processor"},
      {host + "[TARGET] PROCESSOR I80X86 ARCHITECTURE B64 [FILES]", kConfigSyntaxError,
       "unknown bus width"},
      {host + "[TARGET] PROCESSOR I80X86 ARCHITECTURE B16 MEMORY 0 0x40000 I28F040 [FILES]",
       kConfigSyntaxError, "unknown chip"},
      {"[HOST] UART COM123456 BAUD 1 FLASHUPSTRING NO URLADER A TRANSFER B 1 2 CONTINUE NO " +
           target + "[FILES]",
       kConfigReadOk, "UART of 9 characters fits"},
      {"[HOST] UART COM1234567 BAUD 1 FLASHUPSTRING NO URLADER A TRANSFER B 1 2 CONTINUE NO " +
           target + "[FILES]",
       kConfigSyntaxError, "UART of 10 characters is refused, not cut"},
      {head + "[FILES] PROGRAM 1 " + std::string(79, 'F'), kConfigReadOk,
       "file name of 79 characters fits"},
      {head + "[FILES] PROGRAM 1 " + std::string(80, 'F'), kConfigSyntaxError,
       "file name of 80 characters is refused, not cut"},
      {head + "[FILES] PROGRAM 1 A" + std::string(1, '\0') + "B", kConfigSyntaxError,
       "a NUL byte would cut the file name"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(readText(row.text), row.result) << row.why << "\n" << row.text;
  }
}

TEST(ReadProgrammingConfig, at_most_ten_of_each_repeated_entry) {
  const std::string head = std::string(kHost) + "[TARGET] PROCESSOR I80X86 ARCHITECTURE B8 ";
  const std::string memory = "MEMORY 0 0x20000 AM28F010\n";
  const std::string erase = "ERASE 0 0x20000\n";
  const std::string program = "PROGRAM 0 A.BIN\n";
  const std::string upload = "UPLOAD 0 1 B.BIN\n";
  for (int n : {10, 11}) {
    const int expected = n == 10 ? kConfigReadOk : kConfigSyntaxError;
    EXPECT_EQ(readText(head + repeat(memory, n) + "[FILES]"), expected) << n << " MEMORY";
    EXPECT_EQ(readText(head + repeat(erase, n) + "[FILES]"), expected) << n << " ERASE";
    EXPECT_EQ(readText(head + "[FILES] " + repeat(program, n)), expected) << n << " PROGRAM";
    EXPECT_EQ(readText(head + "[FILES] " + repeat(upload, n)), expected) << n << " UPLOAD";
  }
}

TEST(ProgrammingJob, erased_bytes_sum_the_areas_within_the_table) {
  ProgrammingJob job{};
  for (int i = 0; i < kMaxJobEntries; ++i) job.eraseAreas[i].length = 1u << i;
  job.eraseAreas[kMaxJobEntries - 1].length = 0xFFFFFFFFu;  // the sum exceeds 32 bits
  const uint64_t all = uint64_t{0x1FF} + 0xFFFFFFFFu;
  const struct {
    uint8_t count;
    uint64_t bytes;
  } rows[] = {{0, 0}, {3, 7}, {kMaxJobEntries, all}, {255, all}};  // 255: beyond the table
  for (const auto& row : rows) {
    job.eraseCount = row.count;
    EXPECT_EQ(job.erasedBytes(), row.bytes) << int(row.count);
  }
}

}  // namespace
