#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>

#include "flash/config/config_check.h"
#include "flash/config/config_reader.h"
#include "tests/support/temp_dir.h"

namespace {

// A host section; the default is the generated one with a 512-byte loader.
std::string host(const std::string& baud = "115200", const std::string& loader = "ROMWRITE.URL",
                 const std::string& transfer = "ROMWRITE.TRA 0x100 0x100") {
  return "[HOST] UART COM1 BAUD " + baud + " FLASHUPSTRING NO URLADER " + loader + " TRANSFER " +
         transfer + " CONTINUE NO\n";
}

constexpr const char* kExtensionTarget =
    "[TARGET] PROCESSOR I80X86 ARCHITECTURE B16 MEMORY 0x50000 0x100000 AM29F040 "
    "ERASE 0x50000 0xA0000\n";
constexpr const char* kTmsTarget = "[TARGET] PROCESSOR TMS320C30 ARCHITECTURE B8 ";

class CheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir.writeSized("ROMWRITE.URL", 512);
    dir.writeSized("ROMWRITE.TRA", 0x400);
    dir.writeSized("BIG.URL", 513);
    dir.writeSized("ODD.URL", 510);
    dir.writeSized("ODD.TRA", 0x3FE);
    dir.writeSized("IMG.BIN", 0x1000);
    dir.writeSized("img2.bin", 0x1000);  // found without regard to case
    dir.writeSized("ODD.BIN", 0x3FE);
    dir.writeSized("NO_DVBT.bin", 0x90000);
    dir.writeSized("NO_MPEG.bin", 0x7FF00);
    ASSERT_EQ(::mkfifo(dir.file("PIPE.URL").c_str(), 0600), 0);
  }

  // Reads the text as the configuration file and checks it.
  int check(const std::string& text, std::string& message) {
    dir.write("ROMWRITE.CNF", text);
    if (readProgrammingConfig(job, "romwrite.cnf") != kConfigReadOk) {
      message = "(not read)";
      return -1;
    }
    return checkProgrammingJob(job, message);
  }

  testing_support::TempDir dir;
  ProgrammingJob job{};
};

TEST_F(CheckTest, generated_jobs_pass_and_get_their_derived_fields) {
  std::string message;
  ASSERT_EQ(check(host() + kExtensionTarget + "[FILES] PROGRAM 0x50000 NO_DVBT.bin", message),
            kCheckOk)
      << message;
  EXPECT_EQ(message, "Check OK !");
  EXPECT_EQ(job.bankCount, 1);
  EXPECT_EQ(job.banks[0].end, 0x14FFFFu);
  EXPECT_EQ(job.banks[0].chipClass, 4);
  EXPECT_EQ(job.transferEnd, 0x4FFu);
  EXPECT_EQ(job.eraseAreas[0].bankEnd, 0x14FFFFu);
  EXPECT_EQ(job.programs[0].end, 0xDFFFFu);
  EXPECT_EQ(job.programs[0].bankChipType, AM29F040);

  ASSERT_EQ(
      check(host() + "[TARGET] PROCESSOR I80X86 ARCHITECTURE B16 MEMORY 0x80000 0x80000 I28F020 "
                     "ERASE 0x80000 0x80000 [FILES] PROGRAM 0x80000 NO_MPEG.bin",
            message),
      kCheckOk)
      << message;
  // Checked twice, the job gives the same result.
  EXPECT_EQ(checkProgrammingJob(job, message), kCheckOk) << message;
}

TEST_F(CheckTest, speeds_that_divide_115200) {
  // 480 is the slowest: divisor 240, the largest divisor of 115200 that fits a byte.
  for (const char* baud : {"480", "9600", "14400", "19200", "38400", "57600", "115200"}) {
    std::string message;
    EXPECT_EQ(check(host(baud) + kExtensionTarget + "[FILES]", message), kCheckOk) << baud;
  }
}

TEST_F(CheckTest, addresses_count_words_on_the_tms320c30) {
  std::string message;
  ASSERT_EQ(check(host("115200", "--none--", "--NONE-- 0 0") + kTmsTarget +
                      "[FILES] UPLOAD 0x1000 0x400 X.BIN",
                  message),
            kCheckOk)
      << message;
  EXPECT_EQ(job.uploads[0].end, 0x10FFu);
  ASSERT_EQ(check(host("115200", "--NONE--", "--NONE-- 0 0") +
                      "[TARGET] PROCESSOR I80X86 ARCHITECTURE B8 [FILES] UPLOAD 0x1000 0x400 X",
                  message),
            kCheckOk);
  EXPECT_EQ(job.uploads[0].end, 0x13FFu);
}

TEST_F(CheckTest, every_failure_message) {
  const std::string ext = kExtensionTarget;
  const std::string tms = kTmsTarget;
  const std::string noFiles = host("115200", "--NONE--", "--NONE-- 0 0");
  const std::string bankAt80000 =
      "[TARGET] PROCESSOR I80X86 ARCHITECTURE B16 MEMORY 0x80000 0x80000 I28F020 ";
  struct Row {
    std::string text;
    const char* message;
  };
  const Row rows[] = {
      {host("56000") + ext + "[FILES]", "Baudrate 56000 not available"},
      {host("0") + ext + "[FILES]", "Baudrate 0 not available"},
      // Exact divisors that do not fit the loader's divisor byte (256 and 384).
      {host("450") + ext + "[FILES]", "Baudrate 450 not available"},
      {host("300") + ext + "[FILES]", "Baudrate 300 not available"},
      {host("115200", "missing.url") + ext + "[FILES]",
       "Bootstraploader MISSING.URL not accessible"},
      // A named pipe is no file to measure; opening it would wait for a writer.
      {host("115200", "pipe.url") + ext + "[FILES]", "Bootstraploader PIPE.URL not accessible"},
      {host("115200", "BIG.URL") + ext + "[FILES]",
       "Bootstraploader BIG.URL too long\nMax. lenght = 200 Bytes"},
      {host("115200", "ODD.URL") + tms + "[FILES]",
       "Length of bootstraploader ODD.URL must be devisible by 4"},
      {host("115200", "ROMWRITE.URL", "MISSING.TRA 1 1") + ext + "[FILES]",
       "Transferprogram MISSING.TRA not accessible"},
      {host("115200", "ROMWRITE.URL", "ODD.TRA 1 1") + tms + "[FILES]",
       "Length of transferprogram ODD.TRA must be devisible by 4"},
      // The transfer program's range covers the bank's first address.
      {host("115200", "ROMWRITE.URL", "ROMWRITE.TRA 0x4FF00 0") + ext + "[FILES]",
       "Transferprogram from 4FF00 to 502FF cannot be loaded into flash-memory bank from 50000 "
       "to 14FFFF"},
      // ... its last address.
      {host("115200", "ROMWRITE.URL", "ROMWRITE.TRA 0x14FF00 0") + ext + "[FILES]",
       "Transferprogram from 14FF00 to 1502FF cannot be loaded into flash-memory bank from "
       "50000 to 14FFFF"},
      // ... or lies wholly inside the bank.
      {host("115200", "ROMWRITE.URL", "ROMWRITE.TRA 0x60000 0") + ext + "[FILES]",
       "Transferprogram from 60000 to 603FF cannot be loaded into flash-memory bank from 50000 "
       "to 14FFFF"},
      // Without a transfer program its end is 0, so a bank at 0 meets the load address 0.
      {noFiles + "[TARGET] PROCESSOR I80X86 ARCHITECTURE B8 MEMORY 0 0x20000 AM28F010 [FILES]",
       "Transferprogram from 0 to 0 cannot be loaded into flash-memory bank from 0 to 1FFFF"},
      {host() + "[TARGET] PROCESSOR I80X86 ARCHITECTURE B16 MEMORY 0x50000 0x80000 AM29F040 "
                "[FILES]",
       "A bank of AM29F040 at address 50000 must have a length of 100000 bytes"},
      {host() + bankAt80000 + "MEMORY 0xFFFFF 0x80000 I28F020 [FILES]",
       "I28F020 from 80000 to FFFFF  is overlapping  I28F020 from FFFFF to 17FFFE"},
      {host() + bankAt80000 + "ERASE 0x40000 0x80000 [FILES]",
       "Erasearea from 40000 to BFFFF not inside a flash-memory bank"},
      {host() + bankAt80000 + "ERASE 0x80000 0x40000 [FILES]",
       "Cannot erase 40000 bytes at address 80000 on I28F020\nEraseable blocksize = 80000 Bytes"},
      {host() + ext.substr(0, ext.find("ERASE")) + "ERASE 0x60000 0x20000 [FILES]",
       "Cannot erase a block on AM29F040 beginning at 60000"},
      {host() + ext + "[FILES] PROGRAM 0x50000 missing.bin",
       "Programfile MISSING.BIN not "
       "accessible"},
      {noFiles + tms + "[FILES] PROGRAM 0x50000 ODD.BIN",
       "Length of programfile ODD.BIN must be devisible by 4"},
      {host() + ext + "[FILES] PROGRAM 0x50000 IMG.BIN PROGRAM 0x50800 IMG2.BIN",
       "IMG.BIN from 50000 to 50FFF  is overlapping  IMG2.BIN from 50800 to 517FF"},
      {host() + ext + "[FILES] PROGRAM 0x14F800 IMG.BIN",
       "IMG.BIN is not completely in one flash-memory bank"},
      {host() + ext + "[FILES] PROGRAM 0x10000 IMG.BIN",
       "IMG.BIN from 10000 to 10FFF is not inside a flash-memory bank"},
      // A bank of length 0 hides itself and every later bank.
      {host() + bankAt80000 +
           "MEMORY 0x200000 0 I28F020 MEMORY 0x300000 0x80000 I28F020 "
           "[FILES] PROGRAM 0x300000 IMG.BIN",
       "IMG.BIN from 300000 to 300FFF is not inside a flash-memory bank"},
      // An image whose end wraps past the top of the address space is not in the bank.
      {host() + "[TARGET] PROCESSOR I80X86 ARCHITECTURE B16 MEMORY 0xFFF80000 0x80000 I28F020 "
                "[FILES] PROGRAM 0xFFFFF800 IMG.BIN",
       "IMG.BIN is not completely in one flash-memory bank"},
      {host() + "[TARGET] PROCESSOR I80X86 ARCHITECTURE B16 MEMORY 0xFFF80000 0x80000 I28F020 "
                "ERASE 0xFFFC0000 0x80000 [FILES]",
       "Erasearea from FFFC0000 to 3FFFF not inside a flash-memory bank"},
  };
  for (const Row& row : rows) {
    std::string message;
    EXPECT_EQ(check(row.text, message), kCheckJobInvalid) << row.text;
    EXPECT_EQ(message, row.message) << row.text;
  }
}

TEST_F(CheckTest, edge_cases_that_pass) {
  const std::string twoBanks =
      host() + "[TARGET] PROCESSOR I80X86 ARCHITECTURE B16 MEMORY 0x80000 0x80000 I28F020 ";
  const std::string rows[] = {
      // Banks that touch do not overlap.
      twoBanks + "MEMORY 0x100000 0x80000 I28F020 [FILES]",
      // A program that starts at a bank's last address and fits there.
      host() +
          "[TARGET] PROCESSOR I80X86 ARCHITECTURE B8 MEMORY 0x80000 0x20000 AM28F010 "
          "[FILES] PROGRAM 0x9FFFF ONE.BIN",
      // An image that an upload writes first need not exist yet.
      host() + kExtensionTarget +
          "[FILES] PROGRAM 0x60000 SAVED.BIN UPLOAD 0x60000 0x400 saved.bin",
  };
  dir.writeSized("ONE.BIN", 1);
  for (const std::string& text : rows) {
    std::string message;
    EXPECT_EQ(check(text, message), kCheckOk) << text << "\n" << message;
  }
  EXPECT_EQ(job.programs[0].length, 0x400u);
  EXPECT_EQ(job.programs[0].end, 0x603FFu);
}

// A run erases before it programs: each image must lie in what the job erases; the
// configuration check alone passes every row.
TEST_F(CheckTest, images_must_fit_the_erased_flash_of_a_run) {
  dir.writeSized("ONE_OVER.BIN", 0xA0001);
  dir.writeSized("WORDS.BIN", 0x20000);
  const std::string bank =
      host() + "[TARGET] PROCESSOR I80X86 ARCHITECTURE B16 MEMORY 0x50000 0x100000 AM29F040 ";
  const std::string tmsBank =
      host("115200", "--NONE--", "--NONE-- 0 0") + kTmsTarget + "MEMORY 0x10000 0x20000 AM29F010 ";
  struct Row {
    std::string text;
    const char* message;  // empty: fits
  };
  const Row rows[] = {
      {host() + kExtensionTarget + "[FILES] PROGRAM 0x50000 NO_DVBT.bin", ""},
      // One byte past the erase area's end.
      {host() + kExtensionTarget + "[FILES] PROGRAM 0x50000 ONE_OVER.BIN",
       "ONE_OVER.BIN is 655361 bytes; the erased area 0x50000-0xEFFFF holds 655360"},
      // The room counts from the image's address.
      {host() + kExtensionTarget + "[FILES] PROGRAM 0x60000 ONE_OVER.BIN",
       "ONE_OVER.BIN is 655361 bytes; the erased area 0x60000-0xEFFFF holds 589824"},
      // Areas that follow one another, in any order, are one room.
      {bank + "ERASE 0xF0000 0x20000 ERASE 0x50000 0xA0000 [FILES] PROGRAM 0x50000 ONE_OVER.BIN",
       ""},
      {bank + "ERASE 0x50000 0x20000 ERASE 0x90000 0x20000 [FILES] PROGRAM 0x50000 IMG.BIN "
              "PROGRAM 0x6F800 IMG2.BIN",
       "IMG2.BIN is 4096 bytes; the erased area 0x6F800-0x6FFFF holds 2048"},
      {bank + "ERASE 0x50000 0x20000 [FILES] PROGRAM 0x70000 IMG.BIN",
       "IMG.BIN is 4096 bytes; the job erases no flash at its address 0x70000"},
      // A job that erases nothing programs nothing in a run.
      {bank + "[FILES] PROGRAM 0x50000 IMG.BIN",
       "IMG.BIN is 4096 bytes; the job erases no flash at its address 0x50000"},
      // On the TMS320C30 addresses count words: 0x20000 bytes take 0x8000 addresses.
      {tmsBank + "ERASE 0x10000 0x20000 [FILES] PROGRAM 0x10000 WORDS.BIN", ""},
      {tmsBank + "ERASE 0x10000 0x10000 [FILES] PROGRAM 0x10000 WORDS.BIN",
       "WORDS.BIN is 131072 bytes; the erased area 0x10000-0x13FFF holds 65536"},
  };
  for (const Row& row : rows) {
    std::string message;
    ASSERT_EQ(check(row.text, message), kCheckOk) << row.text << "\n" << message;
    const int fits = checkProgramsFitErasedFlash(job, message);
    EXPECT_EQ(fits, *row.message ? kCheckProgramNotErased : kCheckOk) << row.text;
    EXPECT_EQ(message, row.message) << row.text;
  }
}

TEST_F(CheckTest, flash_identity) {
  std::string message;
  ASSERT_EQ(
      check(host() + "[TARGET] PROCESSOR I80X86 ARCHITECTURE B16 MEMORY 0x80000 0x80000 AM28F020 "
                     "[FILES]",
            message),
      kCheckOk);
  struct Row {
    uint8_t mfc[4];
    uint8_t dvc[4];
    int result;
    const char* message;
  };
  const Row rows[] = {
      {{0x01, 0x01}, {0x2A, 0x2A}, kCheckOk, ""},
      {{0x89, 0x01}, {0xBD, 0x2A}, kCheckOk, ""},  // same class stands in
      {{0x89, 0x01}, {0xBD, 0x20}, kCheckChipWrongClass, "AM28F020 != AM29F010"},
      {{0x1F, 0x01}, {0x5B, 0x2A}, kCheckChipUnknown, "MFC 1F  DVC 5B"},
      {{0x01, 0x1F}, {0x2A, 0x05}, kCheckChipUnknown, "MFC 1F  DVC 5"},    // second chip
      {{0x01, 0x01, 0xFF, 0xFF}, {0x2A, 0x2A, 0xFF, 0xFF}, kCheckOk, ""},  // B16: 2 chips
  };
  for (const Row& row : rows) {
    EXPECT_EQ(checkFlashIdentity(job, 0, row.mfc, row.dvc, message), row.result);
    EXPECT_EQ(message, row.message);
  }
  const uint8_t codes[4] = {};
  EXPECT_EQ(checkFlashIdentity(job, 1, codes, codes, message), kCheckJobInvalid);
}

}  // namespace
