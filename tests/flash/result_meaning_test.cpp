// The meaning of every result code, and the composite codes taken apart.
#include "flash/result_meaning.h"

#include <gtest/gtest.h>

#include "flash/config/config_check.h"
#include "flash/config/config_reader.h"
#include "flash/result_codes.h"

namespace {

TEST(ResultMeaning, every_code_of_the_engine_and_the_configuration_has_a_meaning) {
  const int32_t produced[] = {kResultOk,
                              kResultDspFailed,
                              kResultDspChecksumMismatch,
                              kResultPacketTooLong,
                              kResultPacketNotWritten,
                              kResultPortNotOpened,
                              kResultAnswerIncomplete,
                              kResultAnswerChecksum,
                              kResultLoaderNoStatus,
                              kResultLoaderRejected,
                              kResultLoaderFileNotOpened,
                              kResultLoaderNotSent,
                              kResultTargetNotReady,
                              kResultLoaderTooShort,
                              kResultTransferFile,
                              kResultTransferStatusC,
                              kResultTransferNoStatus,
                              kResultTransferStatusP,
                              kResultTransferStatusF,
                              kResultTransferStatusO,
                              kResultTransferNotSent,
                              kResultPowerOnNotConfirmed,
                              kResultPowerOffNotConfirmed,
                              kResultProgramFailedAt,
                              kResultEraseFailedAt,
                              kResultProgramFileNotOpened,
                              kResultChecksumMismatch,
                              kResultReadBackDiffers,
                              kResultBackupWrite,
                              kResultTargetErrorF0,
                              kResultTargetErrorF1,
                              kResultTargetErrorF3,
                              kResultTargetErrorF4,
                              kResultUnexpectedAnswer,
                              kResultUploadWrite,
                              kResultUploadNotCreated,
                              kResultCancelled,
                              kConfigReadEmpty,
                              kConfigReadNotReadable,
                              kConfigSyntaxError,
                              kCheckJobInvalid,
                              kCheckChipWrongClass,
                              kCheckChipUnknown,
                              kCheckProgramNotErased,
                              kResultInstrumentNotReached,
                              kResultConfigNotWritten,
                              kResultHardwareChanged};
  for (const int32_t code : produced) EXPECT_NE(findResultCode(code), nullptr) << code;

  // The table itself: ordered as the status line's hex sorts, every entry explained, and
  // every code read back from the form the status line shows.
  uint32_t previous = 0;
  for (const ResultCodeInfo& info : resultCodeTable()) {
    SCOPED_TRACE(info.code);
    if (&info != resultCodeTable().data()) {
      EXPECT_LT(previous, static_cast<uint32_t>(info.code));
    }
    previous = static_cast<uint32_t>(info.code);
    EXPECT_STRNE(info.meaning, "");
    EXPECT_STRNE(info.setBy, "");
    EXPECT_EQ(resultMeaning(info.code), info.meaning);
    int32_t parsed = 1234;
    ASSERT_TRUE(parseResultCode(resultHex(info.code), false, parsed));
    EXPECT_EQ(parsed, info.code);
    ASSERT_TRUE(parseResultCode(std::to_string(info.code), true, parsed));
    EXPECT_EQ(parsed, info.code);
    EXPECT_EQ(explainResult(info.code).rfind(resultHex(info.code) + " (decimal ", 0), 0u);
  }
}

TEST(ResultMeaning, composite_codes_are_taken_apart) {
  struct Row {
    const char* hex;
    const char* meaning;  // empty: not a code of ours
    const char* explanationPart;
  };
  const Row rows[] = {
      {"5101135", "no valid acknowledgement of a packet after 5 tries: answer incomplete",
       "receive phase: 1 (waiting for the length byte)"},
      {"5201135", "after 5 tries: answer incomplete", "receive phase: 2 (reading the data"},
      {"5301135", "after 5 tries: answer incomplete", "receive phase: 3 (reading the checksum"},
      {"5001155", "after 5 tries: answer checksum mismatch", "receive code:  115 (decimal 277)"},
      {"20113", "program data: the receive of a chunk's answer failed: answer incomplete",
       "base code: 113 (decimal 275)"},
      {"30115", "extra packet after a negative answer failed: answer checksum mismatch",
       "stage:     +30000"},
      {"10004", "program data: the send of a chunk failed: the packet could not be written",
       "base code: 4 (decimal 4)"},
      // An error answer in place of the chunk's acknowledgement (0xF0: a damaged request).
      {"10901", "the send of a chunk failed: error answer 0xF0", "a lower link speed may help"},
      {"10905", "the send of a chunk failed: unexpected answer", "in place of its acknowledg"},
      // The send of a chunk without acknowledgement: both composite forms at once.
      {"5111135", "the send of a chunk failed: no valid acknowledgement of a packet after 5",
       "    receive phase: 1"},
      {"FFFFFFFE", "cannot be opened or read", "set by: configuration file reader"},
      // Not ours: an unknown plain code, a stage a receive code cannot fail at, phase 4,
      // receive code 276, no tries, a cancel with a stage (a cancel keeps its own code).
      {"12345", "", ""},
      {"10113", "", ""},
      {"5401135", "", ""},
      {"5101145", "", ""},
      {"1135", "", ""},
      {"1FFFF", "", ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.hex);
    int32_t code = 0;
    ASSERT_TRUE(parseResultCode(row.hex, false, code));
    const std::string meaning = resultMeaning(code);
    if (*row.meaning == '\0') {
      EXPECT_EQ(meaning, "");
      EXPECT_EQ(explainResult(code), "");
      continue;
    }
    EXPECT_NE(meaning.find(row.meaning), std::string::npos) << meaning;
    EXPECT_NE(explainResult(code).find(row.explanationPart), std::string::npos)
        << explainResult(code);
  }
  // The decoder agrees with the encoder the engine uses.
  for (int32_t tries = 1; tries <= kSendPacketTries; ++tries) {
    UnacknowledgedPacket packet;
    ASSERT_TRUE(decodeUnacknowledgedPacket(compositeSendCode(tries, 2, 275), packet));
    EXPECT_EQ(packet.tries, tries);
    EXPECT_EQ(packet.receivePhase, 2);
    EXPECT_EQ(packet.receiveCode, 275);
  }
}

// Every code the user's manual shows, as an ERROR line or alone, is explained.
TEST(ResultMeaning, every_code_of_the_manual_is_explained) {
  const struct {
    const char* shown;
    const char* meaning;
  } rows[] = {
      {"ERROR Delete flash (414)", "failed to erase flash"},
      {"ERROR Check ZEL in update mode (205)", "target not ready"},
      {"ERROR Download bootloader (202)", "rejected the bootstrap loader"},
      {"ERROR Download bootloader (204)", "bootstrap loader could not be sent"},
      {"ERROR Download transfer program (316)", "part of the transfer program could not be"},
      {"ERROR Download processor firmware (413)", "failed to program flash"},
      {"ERROR Read back processor firmware (420)", "read back differs"},
      {"ERROR Wait until ZEL is booted (FFFF)", "cancelled by the user"},
      {"20113", "the receive of a chunk's answer failed: answer incomplete"},
      {"10901", "the send of a chunk failed: error answer 0xF0"},
      {"5111135", "the send of a chunk failed: no valid acknowledgement"},
      {"701", "did not answer"},
      {"702", "ROMWRITE.CNF could not be written"},
      {"703", "another hardware word"},
      {"605", "runs past the flash"},
      {"710", "within 150 s"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.shown);
    int32_t code = 0;
    ASSERT_TRUE(codeOfStatusLine(row.shown, code) || parseResultCode(row.shown, false, code));
    EXPECT_NE(resultMeaning(code).find(row.meaning), std::string::npos) << resultMeaning(code);
    EXPECT_FALSE(explainResult(code).empty());
  }
}

// A code that is none of ours but reads as a stage of a chunk plus a known code: both parts
// named, and the codes that stage really fails with.
TEST(ResultMeaning, a_stage_with_a_code_it_never_reports_is_taken_apart) {
  const struct {
    const char* hex;
    const char* part;  // empty: no such reading
  } rows[] = {
      {"10113", "never fails with 113; its codes are 3, 4, 901 to 905"},
      {"10113", "    stage +10000: the send of a chunk\n    code 113: answer incomplete"},
      {"20901", "the receive of a chunk's answer never fails with 901; its codes are 113 and 115"},
      {"3FFFFFFF", ""},  // the rest is no code at all
      {"1FFFF", "a cancel keeps its own code, FFFF"},
      {"20113", ""},  // a code of ours: explained in full instead
      {"10000", ""},  // a stage part alone
      {"12345", ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.hex);
    int32_t code = 0;
    ASSERT_TRUE(parseResultCode(row.hex, false, code));
    const std::string text = explainStageMisread(code);
    if (*row.part == '\0') {
      EXPECT_EQ(text, "");
    } else {
      EXPECT_NE(text.find(row.part), std::string::npos) << text;
    }
  }
}

TEST(ResultMeaning, codes_are_read_as_typed) {
  struct Row {
    const char* text;
    bool decimal;
    bool ok;
    int32_t code;
  };
  const Row rows[] = {
      {"FFFF", false, true, 65535},
      {"ffff", false, true, 65535},
      {"0x20113", false, true, 0x20113},
      {"FFFFFFFE", false, true, -2},
      {"1281", true, true, 1281},
      {"-2", true, true, -2},
      {"-2147483648", true, true, INT32_MIN},
      {"100000000", false, false, 0},  // beyond 32 bits
      {"2147483648", true, false, 0},  // beyond int32
      {"", false, false, 0},
      {"0x", false, false, 0},
      {"-1", false, false, 0},  // a sign on a hex code
      {"12a", true, false, 0},
      {"G1", false, false, 0},
      {" 1", false, false, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    int32_t code = 0;
    EXPECT_EQ(parseResultCode(row.text, row.decimal, code), row.ok);
    if (row.ok) {
      EXPECT_EQ(code, row.code);
    }
  }
}

TEST(ResultMeaning, the_code_of_a_failed_step_line) {
  const struct {
    const char* line;
    int32_t code;  // 0: no code in the line
  } rows[] = {
      {"ERROR Program NO_MPEG.bin (20113)", 0x20113},
      {"ERROR Erase (FFFFFFFE)", -2},
      {"ERROR Download bootloader (unit 2) (205)", 0x205},
      {"ERROR - check ROMWRITE.CNF:  update aborted", 0},  // an error line without a code
      {"OK    Erase (414)", 0},                            // a step that passed
      {"ERROR Erase (0x414)", 0},
      {"ERROR (414)", 0},  // no step text
  };
  for (const auto& row : rows) {
    int32_t code = 0;
    EXPECT_EQ(codeOfStatusLine(row.line, code), row.code != 0) << row.line;
    EXPECT_EQ(code, row.code) << row.line;
  }
}

}  // namespace
