#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "flash/config/config_tokenizer.h"
#include "tests/support/temp_dir.h"

namespace {

TEST(ClassifyToken, keywords_numbers_and_words) {
  struct Row {
    const char* token;
    ConfigToken kind;
  };
  const Row rows[] = {
      {"[HOST]", kTokenHost},   {"[host]", kTokenHost},
      {"MeMoRy", kTokenMemory}, {"tms320c30", kTokenTms320c30},
      {"yes", kTokenYes},       {"NOERASE", kTokenNoErase},
      {"b16", kTokenB16},       {"0", kTokenNumber},
      {"115200", kTokenNumber}, {"0x1f", kTokenNumber},
      {"0X1F", kTokenNumber},   {"010", kTokenNumber},
      {"08", kTokenNumber},   // digits only: a number, even though octal stops at the 8
      {"0x", kTokenWord},     // prefix without a digit
      {"0x12G", kTokenWord},  // trailing non-hex character
      {"12a", kTokenWord},    // letters after decimal digits
      {"-1", kTokenWord},     // no signs
      {"0b101", kTokenWord},    {"NO", kTokenWord},  // not a keyword: only YES sets a flag
      {"HOST", kTokenWord},     {"ROMWRITE.URL", kTokenWord},
      {"--NONE--", kTokenWord},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(classifyToken(row.token), row.kind) << row.token;
  }
}

TEST(ConvertNumber, automatic_base_stop_and_overflow) {
  struct Row {
    const char* token;
    uint32_t value;
  };
  const Row rows[] = {
      {"0", 0},
      {"115200", 115200},
      {"0X1f", 31},
      {"0x50000", 0x50000},
      {"010", 8},
      {"0100", 64},
      {"08", 0},  // octal stops at the first invalid digit
      {"0778", 63},
      {"4294967295", 0xFFFFFFFF},
      {"4294967296", 0xFFFFFFFF},  // one past 32 bits saturates
      {"99999999999999999999", 0xFFFFFFFF},
      {"0xFFFFFFFF", 0xFFFFFFFF},
      {"0x100000000", 0xFFFFFFFF},
      {"0x000000000000001", 1},  // leading zeros never overflow
      {"037777777777", 0xFFFFFFFF},
      {"040000000000", 0xFFFFFFFF},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(convertNumber(row.token), row.value) << row.token;
  }
}

struct Token {
  ConfigToken kind;
  std::string text;
  uint32_t value;
  bool operator==(const Token&) const = default;
};

std::vector<Token> tokensOf(const std::string& contents) {
  testing_support::TempDir dir;
  dir.write("t.cnf", contents);
  std::vector<Token> tokens;
  if (openConfigFile("t.cnf") != kConfigOpenOk) return tokens;
  for (;;) {
    Token t{};
    t.kind = getToken(t.text, t.value);
    if (t.kind < 0) break;
    tokens.push_back(t);
  }
  closeConfigFile();
  return tokens;
}

TEST(GetToken, separators_and_comments) {
  const std::vector<Token> expected = {
      {kTokenBaud, "BAUD", 0}, {kTokenNumber, "9600", 9600}, {kTokenWord, "FILE.BIN", 0},
      {kTokenWord, "a", 0},    {kTokenNumber, "0x10", 16},
  };
  EXPECT_EQ(tokensOf("  BAUD=,=\t9600\r\n; whole line\nFILE.BIN;x y z\r\na;\n,,0x10 ;tail"),
            expected);
}

TEST(GetToken, long_lines_are_read_in_pieces_of_199) {
  // A comment is a comment to its line's end, however long: an entry hidden beyond the
  // first piece (of a comment line, or of one that starts inside a token) is not read.
  const std::string hidden = " UPLOAD 0x0 0x100 KEEP.BIN " + std::string(450, 'd');
  for (const std::string& line :
       {";" + std::string(198, 'c') + hidden, "WORD;" + std::string(400, 'c') + hidden}) {
    const std::vector<Token> tokens = tokensOf("YES\n" + line + "\nB8");
    ASSERT_GE(tokens.size(), 2u) << line.size();
    EXPECT_EQ(tokens.front().kind, kTokenYes);
    EXPECT_EQ(tokens.back().kind, kTokenB8);
    for (const Token& t : tokens) EXPECT_NE(t.kind, kTokenUpload);
  }

  // A token across the boundary splits in two; no token exceeds 199 characters.
  const std::vector<Token> split = tokensOf(std::string(250, 'w'));
  ASSERT_EQ(split.size(), 2u);
  EXPECT_EQ(split[0].text.size(), 199u);
  EXPECT_EQ(split[1].text.size(), 51u);
}

}  // namespace
