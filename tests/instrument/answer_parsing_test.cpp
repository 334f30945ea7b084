#include "instrument/answer_parsing.h"

#include <gtest/gtest.h>

#include <string>

#include "instrument/command_text.h"

namespace {

using instrument::InstrumentModel;

struct ErrorQueueRow {
  std::string answer;
  bool numberScanned;
  bool textScanned;
  int32_t number;
  std::string text;
};

TEST(ErrorQueueAnswer, scans_number_comma_and_text_from_the_set) {
  const ErrorQueueRow rows[] = {
      {"0,\"No error\"", true, true, 0, "\"No error\""},
      {"-113,\"Undefined header;SYST:ERR\"", true, true, -113, "\"Undefined header;SYST"},
      {"  7,abc", true, true, 7, "abc"},
      {"0,\"No-error\"", true, true, 0, "\"No"},       // a hyphen ends the text
      {"42", true, false, 42, ""},                     // no comma: number only
      {"7 ,x", true, false, 7, ""},                    // the comma must follow the digits
      {"7,", true, false, 7, ""},                      // empty text is not scanned
      {"7,-x", true, false, 7, ""},                    // first character outside the set
      {"7,\xB0x", true, false, 7, ""},                 // high bytes are outside the set
      {"99999999999,x", true, true, 2147483647, "x"},  // saturates, never wraps
      {",\"x\"", false, false, 0, ""},                 // no number, so no text either
      {"", false, false, 0, ""},
      {"-", false, false, 0, ""},
  };
  for (const ErrorQueueRow& row : rows) {
    const instrument::ErrorQueueScan scan = instrument::scanErrorQueueAnswer(row.answer);
    EXPECT_EQ(scan.numberScanned, row.numberScanned) << row.answer;
    EXPECT_EQ(scan.textScanned, row.textScanned) << row.answer;
    if (row.numberScanned) {
      EXPECT_EQ(scan.number, row.number) << row.answer;
    }
    EXPECT_EQ(scan.text, row.text) << row.answer;
  }
}

TEST(ErrorQueueAnswer, text_stops_after_255_characters) {
  const instrument::ErrorQueueScan scan =
      instrument::scanErrorQueueAnswer("1," + std::string(400, 'a'));
  EXPECT_EQ(scan.text, std::string(255, 'a'));
}

struct IdentificationRow {
  std::string answer;
  InstrumentModel model;
  bool accepted;
  uint32_t serialNo;
  int32_t swVersion;
};

TEST(Identification, accepts_maker_model_serial_and_version) {
  const IdentificationRow rows[] = {
      {"QUORIX&VANTEL,LUM,1234,04.41 ", InstrumentModel::Lum, true, 1234, 441},
      {"QUORIX&VANTEL,ZEL, 57, 4. 41", InstrumentModel::Zel, true, 57, 441},
      // The maker text may stand anywhere; the model is always the second field.
      {"X,ZEL,5,1.0,QUORIX&VANTEL,", InstrumentModel::Zel, true, 5, 100},
      // A serial number wider than 32 bits reads as all bits set.
      {"QUORIX&VANTEL,ZEL,99999999999,4.41", InstrumentModel::Zel, true, 0xFFFFFFFFu, 441},
      {"QUORIX&VANTEL,ZEL,57,21474836.47", InstrumentModel::Zel, true, 57, 2147483647},
  };
  for (const IdentificationRow& row : rows) {
    const instrument::IdentificationScan scan = instrument::parseIdentification(row.answer);
    int32_t version = 0;
    EXPECT_EQ(scan.model, row.model) << row.answer;
    ASSERT_TRUE(scan.accepted()) << row.answer;
    ASSERT_TRUE(scan.swVersion(version));
    EXPECT_EQ(version, row.swVersion) << row.answer;
    EXPECT_EQ(scan.version.serialNo, row.serialNo) << row.answer;
  }
}

TEST(Identification, refuses_what_is_not_an_updatable_instrument) {
  const IdentificationRow rows[] = {
      // The model is known, the version is not: named, but refused.
      {"QUORIX&VANTEL,LUM,57,unknown", InstrumentModel::Lum, false, 0, 0},
      {"QUORIX&VANTEL,ZEL,57,4", InstrumentModel::Zel, false, 0, 0},
      {"QUORIX&VANTEL,ZEL,57 ,4.41", InstrumentModel::Zel, false, 0, 0},
      // A version that does not fit the 32-bit major * 100 + minor.
      {"QUORIX&VANTEL,ZEL,57,21474836.48", InstrumentModel::Zel, false, 0, 0},
      {"QUORIX&VANTEL,ZEL,57,99999999999999999999999.1", InstrumentModel::Zel, false, 0, 0},
      // Unknown models: exactly "ZEL" or "LUM", capitals, no blanks.
      {"QUORIX&VANTEL,XYZ,57,4.41", InstrumentModel::Unknown, false, 0, 0},
      {"QUORIX&VANTEL,zel,57,4.41", InstrumentModel::Unknown, false, 0, 0},
      {"QUORIX&VANTEL, ZEL,57,4.41", InstrumentModel::Unknown, false, 0, 0},
      {"QUORIX&VANTEL,ZEL", InstrumentModel::Unknown, false, 0, 0},  // no second comma
      // Without the maker nothing is recognised, not even the model.
      {"OTHER,ZEL,57,4.41", InstrumentModel::Unknown, false, 0, 0},
      {"QUORIX&VANTEL ZEL,57,4.41", InstrumentModel::Unknown, false, 0, 0},
      {"", InstrumentModel::Unknown, false, 0, 0},
  };
  for (const IdentificationRow& row : rows) {
    const instrument::IdentificationScan scan = instrument::parseIdentification(row.answer);
    EXPECT_EQ(scan.model, row.model) << row.answer;
    EXPECT_FALSE(scan.accepted()) << row.answer;
  }
}

struct WordRow {
  std::string answer;
  bool ok;
  uint32_t word;
};

TEST(HardwareWord, reads_a_32_bit_decimal_word) {
  const WordRow rows[] = {
      {"65536", true, 0x10000},
      {"  +1056 ", true, 1056},
      {"123abc", true, 123},
      {"abc", true, 0},  // no digits give 0
      {"", true, 0},
      {"-1", true, 0xFFFFFFFFu},
      {"4294967295", true, 0xFFFFFFFFu},
      {"-2147483648", true, 0x80000000u},
      // Wider than the word: refused rather than cut or clamped to all options.
      {"4294967296", false, 0},
      {"-2147483649", false, 0},
      {"123456789012345678901234567890", false, 0},
  };
  for (const WordRow& row : rows) {
    int32_t word = 0x5A5A;
    EXPECT_EQ(instrument::parseHardwareWord(row.answer, word), row.ok) << row.answer;
    if (row.ok) {
      EXPECT_EQ(static_cast<uint32_t>(word), row.word) << row.answer;
    }
  }
}

struct BoardRow {
  std::string answer;
  bool ok;
  int64_t number;
};

TEST(BoardInformation, number_right_after_the_marker) {
  const BoardRow rows[] = {
      {"0xE0: 4", true, 4},  {"ID 0x10:7 0xE0:3 rev 2", true, 3},
      {"0xE0:-5", true, -5}, {"0xE0:", false, 0},
      {"0xE0:x4", false, 0},  // the number must follow the marker
      {"0xe0:4", false, 0},   // the marker is compared with its capitals
      {"board 4", false, 0},
  };
  for (const BoardRow& row : rows) {
    int64_t number = 0;
    EXPECT_EQ(instrument::parseBoardNumber(row.answer, number), row.ok) << row.answer;
    if (row.ok) {
      EXPECT_EQ(number, row.number) << row.answer;
    }
  }
  int64_t huge = 0;
  ASSERT_TRUE(instrument::parseBoardNumber("0xE0:99999999999999999999999", huge));
  EXPECT_GT(huge, instrument::kLastBoardWithoutMemoryExtension);
}

TEST(CommandText, raw_block_queries_need_dump_and_read_without_count) {
  EXPECT_TRUE(instrument::expectsRawBlock("READ:DUMP? 0,16\r\n"));
  EXPECT_TRUE(instrument::expectsRawBlock("DUMP:READ?"));
  EXPECT_FALSE(instrument::expectsRawBlock("READ:DUMP:COUNT?"));
  EXPECT_FALSE(instrument::expectsRawBlock("READ:INFO:DATA?"));
  EXPECT_FALSE(instrument::expectsRawBlock("read:dump?"));  // callers upper-case first
}

TEST(CommandText, setting_command_refused_when_it_would_not_fit) {
  char buffer[100];
  // 21 + 76 + 2 = 99 characters: the longest text that fits with its NUL.
  EXPECT_TRUE(instrument::formatSettingCommand(buffer, sizeof buffer, "SYST:COMM:SER:PARITY %s\r\n",
                                               std::string(76, 'E').c_str()));
  EXPECT_EQ(std::string(buffer).size(), 99u);
  EXPECT_FALSE(instrument::formatSettingCommand(
      buffer, sizeof buffer, "SYST:COMM:SER:PARITY %s\r\n", std::string(77, 'E').c_str()));
  EXPECT_STREQ(buffer, "");
}

}  // namespace
