// Read back, backup and restore end to end: the program in child processes against the
// simulated instrument on the virtual clock, whose state folder carries its flash and version
// from one run to the next.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/service_record.h"
#include "sim/sample_files.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::TempDir;

constexpr uint32_t kBankStart = 0x50000;

struct Outcome {
  int status = -1;
  std::string out;
};

// zelupdate with these arguments in the folder, its records in the folder's history.
Outcome zelupdate(const TempDir& dir, const std::string& args) {
  const std::string command = "cd '" + dir.path() +
                              "' && '" ZEL_PROGRAM
                              "' --settings settings.ini --history history.jsonl " +
                              args + " </dev/null >out.txt 2>&1";
  const int status = std::system(command.c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, dir.read("out.txt")};
}

ServiceRecord lastRecord(const TempDir& dir) {
  std::vector<StoredRecord> records;
  std::string why;
  EXPECT_TRUE(readHistory(dir.file("history.jsonl"), {}, records, &why)) << why;
  return records.empty() ? ServiceRecord{} : records.back().record;
}

bool exists(const TempDir& dir, const std::string& name) {
  std::FILE* file = std::fopen(dir.file(name).c_str(), "rb");
  if (file) std::fclose(file);
  return file != nullptr;
}

// The simulated flash of the state folder, from the bank's start.
std::string flashOf(const TempDir& dir, const std::string& state, size_t bytes) {
  return dir.read(state + "/bank-00050000.bin").substr(0, bytes);
}

TEST(BackupRestore, read_back_finds_two_bytes_the_checksum_cannot_see) {
  struct Row {
    const char* args;
    int status;
  };
  const Row rows[] = {{"", 0}, {"--verify", 1}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.args);
    TempDir dir(false);
    ASSERT_EQ(sim::writeSampleUpdateFiles(dir.path()), 0);
    const Outcome run = zelupdate(dir, std::string("run --assume-yes ") + row.args +
                                           " --port sim:hw=0x10000,fault=flash-corrupt,state=st");
    EXPECT_EQ(run.status, row.status) << run.out;
    const ServiceRecord record = lastRecord(dir);
    if (row.status == 0) {
      EXPECT_FALSE(record.verify.has_value());
      EXPECT_EQ(run.out.find("Read back"), std::string::npos);
      continue;
    }
    // The first byte in which the flash differs from the image is the address reported.
    const std::string image = dir.read("NO_ATSC.bin");
    const std::string flash = flashOf(dir, "st", image.size());
    size_t first = 0;
    while (first < image.size() && image[first] == flash[first]) ++first;
    ASSERT_LT(first, image.size());
    char line[96];
    std::snprintf(line, sizeof line, "ERROR - read back differs at %zX: update aborted",
                  kBankStart + first);
    EXPECT_NE(run.out.find("ERROR Read back processor firmware (420)\n" + std::string(line)),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("  420: the flash read back differs"), std::string::npos) << run.out;
    ASSERT_EQ(record.verify, "differs");
    ASSERT_EQ(record.differences.size(), 2u);
    EXPECT_EQ(record.differences[0], kBankStart + first);
    EXPECT_EQ(record.result, 0x420);
  }
}

TEST(BackupRestore, backup_update_restore_brings_the_old_firmware_back) {
  TempDir dir(false);
  ASSERT_EQ(sim::writeSampleUpdateFiles(dir.path()), 0);
  const std::string port = " --port sim:hw=0x10000,version=04.40,version-after=05.00,state=st";
  const size_t area = 0xA0000;

  Outcome run = zelupdate(dir, "backup --assume-yes bk" + port);
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(lastRecord(dir).backup, "bk");
  const std::string before = flashOf(dir, "st", 0x100000);
  EXPECT_EQ(dir.read("bk/flash-00050000.bin"), before.substr(0, area));
  EXPECT_NE(dir.read("bk/manifest.json").find("\"serial\":\"57\""), std::string::npos);

  // A backup never goes into a folder that holds something.
  EXPECT_EQ(zelupdate(dir, "backup bk" + port).status, 2);
  EXPECT_EQ(zelupdate(dir, "run --backup bk" + port).status, 2);

  run = zelupdate(dir, "run --assume-yes --verify" + port);
  ASSERT_EQ(run.status, 0) << run.out;
  ServiceRecord record = lastRecord(dir);
  EXPECT_EQ(record.versionAfter, "05.00");
  EXPECT_EQ(record.verify, "ok");
  EXPECT_NE(flashOf(dir, "st", area), before.substr(0, area));

  run = zelupdate(dir, "restore --assume-yes bk" + port);
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("OK    Read back processor firmware"), std::string::npos) << run.out;
  EXPECT_EQ(flashOf(dir, "st", 0x100000), before);
  record = lastRecord(dir);
  EXPECT_EQ(record.restore, "bk");
  EXPECT_EQ(record.verify, "ok");
  EXPECT_EQ(record.versionAfter, "04.40");
  EXPECT_EQ(record.outcome, "success");
  // The staged copies are gone again.
  EXPECT_FALSE(exists(dir, "RESTORE-00050000.BIN"));
}

TEST(BackupRestore, restore_refuses_another_instrument_and_a_damaged_backup) {
  TempDir dir(false);
  ASSERT_EQ(sim::writeSampleUpdateFiles(dir.path()), 0);
  ASSERT_EQ(zelupdate(dir, "backup --assume-yes bk --port sim:hw=0x10000,state=st").status, 0);
  struct Row {
    const char* port;
    bool damage;
    const char* line;
  };
  const Row rows[] = {
      {"sim:hw=0x10000,serial=58,state=st", false,
       "ERROR - another instrument: backup of serial 57 (hw 0x10000), instrument here: serial 58"},
      {"sim:hw=0x11000", false, "ERROR - another instrument:"},
      // One changed byte in the area file: its SHA-256 no longer matches the manifest.
      {"sim:hw=0x10000,state=st", true, "does not match its SHA-256"},
  };
  const std::string original = dir.read("bk/flash-00050000.bin");
  for (const Row& row : rows) {
    SCOPED_TRACE(row.port);
    std::string area = original;
    if (row.damage) area[100] = static_cast<char>(area[100] ^ 1);
    dir.write("bk/flash-00050000.bin", area);
    const std::string flash = flashOf(dir, "st", 0x100000);
    const Outcome run = zelupdate(dir, std::string("restore --assume-yes bk --port ") + row.port);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find(row.line), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("update mode"), std::string::npos) << run.out;
    EXPECT_EQ(lastRecord(dir).outcome, "refused");
    EXPECT_EQ(flashOf(dir, "st", 0x100000), flash);
  }
  // --force restores onto another serial number.
  dir.write("bk/flash-00050000.bin", original);
  const Outcome forced = zelupdate(dir,
                                   "restore --assume-yes --force bk --port "
                                   "sim:hw=0x10000,serial=58,state=st");
  EXPECT_EQ(forced.status, 0) << forced.out;
  EXPECT_NE(forced.out.find("Restore forced: backup of serial 57"), std::string::npos);
}

TEST(BackupRestore, dry_run_plans_the_read_back_and_the_backup) {
  TempDir dir(false);
  ASSERT_EQ(sim::writeSampleUpdateFiles(dir.path()), 0);
  const Outcome plain = zelupdate(dir, "run --dry-run --port sim:hw=0x10000");
  const Outcome run = zelupdate(dir, "run --dry-run --verify --backup bk --port sim:hw=0x10000");
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("\n  verify    each image read back after its checksum and compared "
                         "byte for byte (the DSP module cannot be read)\n"),
            std::string::npos)
      << run.out;
  EXPECT_NE(
      run.out.find("\n  backup    655360 bytes of the erase areas into bk before the erase\n"),
      std::string::npos);
  EXPECT_EQ(plain.out.find("  verify "), std::string::npos);
  // Reading 0xA0000 bytes twice at 115200 bits/s adds well over a minute to the estimate.
  const auto estimate = [](const std::string& out) {
    int minutes = 0, seconds = 0;
    const size_t at = out.find("  estimate  ");
    if (at == std::string::npos ||
        std::sscanf(out.c_str() + at, "  estimate  %d min %d s", &minutes, &seconds) != 2) {
      return -1;
    }
    return minutes * 60 + seconds;
  };
  EXPECT_GT(estimate(run.out), estimate(plain.out) + 2 * 60);
  EXPECT_FALSE(exists(dir, "bk/manifest.json"));
  const ServiceRecord record = lastRecord(dir);
  EXPECT_TRUE(record.dryRun);
  EXPECT_EQ(record.verify, "");  // null: planned, not done
}

}  // namespace

namespace {

// Each way a backup, a restore or a run with either ends: its lines, its code in the record
// and its outcome; nothing of update mode where the check can come before it.
TEST(BackupRestore, every_end_has_its_code_and_its_advice) {
  struct Row {
    const char* name;
    std::string prepare;  // shell commands in the folder before the run
    const char* args;
    int status;
    std::vector<std::string> lines;  // in this order in the output
    int32_t result;
    const char* outcome;
    bool updateMode;  // the instrument was switched into update mode
  };
  const std::string backup = "'" ZEL_PROGRAM
                             "' --settings settings.ini --no-history backup --assume-yes bk "
                             "--port sim:hw=0x11000,state=st >/dev/null";
  const Row rows[] = {
      {"a backup folder without room, before update mode",
       "",
       "run --assume-yes --backup /proc/zel-backup --port sim:hw=0x11000",
       1,
       {"ERROR - backup: no room for the backup in /proc: it needs 704 KiB", "Backup refused:"},
       0x421,
       "refused",
       false},
      {"the dry run checks the backup folder too",
       "",
       "run --dry-run --backup /proc/zel-backup --port sim:hw=0x11000",
       1,
       {"ERROR - backup: no room for the backup in /proc"},
       0x421,
       "refused",
       false},
      {"no answer after the backup's reboot",
       "",
       "backup --assume-yes bk --port sim:hw=0x11000,boot-time=3600",
       1,
       {"ERROR Wait until ZEL is booted (710)"},
       0x710,
       "failed",
       true},
      {"restore where ROMWRITE.CNF cannot be written",
       backup + " && rm ROMWRITE.CNF && mkdir ROMWRITE.CNF",
       "restore --assume-yes bk --port sim:hw=0x11000,state=st",
       1,
       {"ERROR Create configuration file for the restore",
        "ERROR - cannot write ROMWRITE.CNF in the current folder: ",
        "Restore failed before update mode: the flash is unchanged."},
       0x702,
       "failed",
       false},
      {"an option lost in the reboot",
       "",
       "run --assume-yes --port sim:version=04.40,hw=0x11000,hw-after=0x10000",
       1,
       {"OK    Wait until ZEL is booted\nERROR - B20 not detected\n[stop] Error - B20 not "
        "detected."},
       0x703,
       "failed",
       true},
      {"a backup made in manual mode asks before its restore",
       "'" ZEL_PROGRAM "' --settings settings.ini --no-history run --manual --assume-yes "
       "--backup bk --port sim:hw=0x11000,state=st >/dev/null",
       "restore --assume-yes bk --port sim:hw=0x11000,state=st",
       0,
       {"[question] The backup names no instrument: it was made in manual mode.",
        "Restore confirmed: the backup names no instrument (made in manual mode)",
        "Restore successfully completed."},
       0,
       "success",
       true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TempDir dir(false);
    ASSERT_EQ(sim::writeSampleUpdateFiles(dir.path()), 0);
    if (!row.prepare.empty()) {
      ASSERT_EQ(std::system(("cd '" + dir.path() + "' && " + row.prepare).c_str()), 0);
    }
    const Outcome run = zelupdate(dir, row.args);
    EXPECT_EQ(run.status, row.status) << run.out;
    size_t at = 0;
    for (const std::string& line : row.lines) {
      at = run.out.find(line, at);
      EXPECT_NE(at, std::string::npos) << line << "\n" << run.out;
      if (at == std::string::npos) break;
    }
    EXPECT_EQ(run.out.find("in update mode") != std::string::npos, row.updateMode) << run.out;
    const ServiceRecord record = lastRecord(dir);
    EXPECT_EQ(record.result, row.result);
    EXPECT_EQ(record.outcome, row.outcome);
  }
}

// After a restore the folder's job is the one it had, and the record names the staged
// files it programmed with their size and SHA-256.
TEST(BackupRestore, restore_leaves_the_folder_as_it_found_it) {
  TempDir dir(false);
  ASSERT_EQ(sim::writeSampleUpdateFiles(dir.path()), 0);
  const std::string port = " --port sim:hw=0x10000,state=st";
  ASSERT_EQ(zelupdate(dir, "backup --assume-yes bk" + port).status, 0);
  ASSERT_EQ(zelupdate(dir, "generate --hw 0x10000 --port 7").status, 0);
  const std::string job = dir.read("ROMWRITE.CNF");
  ASSERT_EQ(zelupdate(dir, "restore --assume-yes bk" + port).status, 0);
  EXPECT_EQ(dir.read("ROMWRITE.CNF"), job);
  const ServiceRecord record = lastRecord(dir);
  bool staged = false;
  for (const ServiceRecordFile& file : record.files) {
    if (file.name != "RESTORE-00050000.BIN") continue;
    staged = true;
    EXPECT_EQ(file.bytes, int64_t{0xA0000});
    EXPECT_EQ(file.sha256.size(), 64u);
  }
  EXPECT_TRUE(staged);
}

}  // namespace

namespace {

// An update whose line went dead in the middle of programming leaves the instrument with
// incomplete firmware: it waits in update mode and answers no command (the next run ends
// with 701); a restore from the backup made before, or the manual mode, brings it back.
TEST(BackupRestore, an_interrupted_update_is_brought_back) {
  struct Row {
    const char* name;
    const char* recover;
    const char* line;  // in the recovery's output
    bool flashIsBackup;
    bool confirmed = true;  // false: nobody answers the question (no terminal), nothing changes
  };
  const Row rows[] = {
      {"restore from the backup", "restore --assume-yes bk",
       "ZEL waits in update mode: its identity cannot be checked", true},
      {"the manual mode", "run --manual --assume-yes", "OK    Download processor firmware", false},
      {"a restore without a terminal to confirm it", "restore bk", "ERROR - restore not confirmed",
       false, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TempDir dir(false);
    ASSERT_EQ(sim::writeSampleUpdateFiles(dir.path()), 0);
    const std::string port = " --port sim:hw=0x10000,state=st";
    ASSERT_EQ(zelupdate(dir, "backup --assume-yes bk" + port).status, 0);
    const std::string backup = dir.read("bk/flash-00050000.bin");

    // The line dies after the erase, in the middle of the firmware's download.
    Outcome run =
        zelupdate(dir, "run --assume-yes --port sim:hw=0x10000,state=st,fault=unplug=200000");
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_NE(dir.read("st/state").find("firmware-valid=no"), std::string::npos);
    run = zelupdate(dir, "run --assume-yes" + port);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(lastRecord(dir).result, 0x701);

    const Outcome recovered = zelupdate(dir, std::string(row.recover) + port);
    EXPECT_NE(recovered.out.find(row.line), std::string::npos) << recovered.out;
    if (!row.confirmed) {
      EXPECT_NE(recovered.status, 0);
      EXPECT_NE(dir.read("st/state").find("firmware-valid=no"), std::string::npos);
      continue;
    }
    EXPECT_EQ(recovered.status, 0) << recovered.out;
    EXPECT_EQ(lastRecord(dir).recovered, row.flashIsBackup);
    if (row.flashIsBackup) {
      EXPECT_EQ(flashOf(dir, "st", backup.size()), backup);
    }
    // It answers again, with whole firmware.
    EXPECT_EQ(dir.read("st/state").find("firmware-valid=no"), std::string::npos);
    EXPECT_EQ(zelupdate(dir, "run --dry-run" + port).status, 0);
  }
}

}  // namespace
