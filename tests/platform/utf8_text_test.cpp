// One character of UTF-8 at a time: the valid sequences with their code points, and every
// kind of byte run that is none.
#include "platform/utf8_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Utf8Text, valid_sequences_and_the_runs_that_are_none) {
  const struct {
    std::string text;
    size_t length;
    uint32_t codePoint;
  } rows[] = {
      {"A", 1, 0x41},
      {"\xC3\xBC", 2, 0xFC},              // ü
      {"\xE2\x80\xAE", 3, 0x202E},        // right-to-left override
      {"\xF0\x9F\x93\xA1", 4, 0x1F4E1},   // beyond the first 65536
      {"\xF4\x8F\xBF\xBF", 4, 0x10FFFF},  // the last code point
      {"\x80", 0, 0},                     // a continuation byte first
      {"\xC0\xAF", 0, 0},                 // overlong "/"
      {"\xE0\x80\xAF", 0, 0},             // overlong, three bytes
      {"\xED\xA0\x80", 0, 0},             // a surrogate
      {"\xF4\x90\x80\x80", 0, 0},         // beyond U+10FFFF
      {"\xE2\x80", 0, 0},                 // cut short
      {"\xC3(", 0, 0},                    // a lead byte without its continuation
      {"\xFF", 0, 0},
      {"", 0, 0},
  };
  for (const auto& row : rows) {
    uint32_t codePoint = 0;
    EXPECT_EQ(platform::utf8Sequence(row.text, 0, &codePoint), row.length) << row.text;
    EXPECT_EQ(codePoint, row.codePoint) << row.text;
  }
  // A sequence read where it begins inside a longer text.
  EXPECT_EQ(platform::utf8Sequence("a\xC3\xBC", 1), 2u);
}

TEST(Utf8Text, to_utf16_each_broken_run_is_one_replacement_and_back_a_lone_surrogate_too) {
  const struct {
    std::string text;
    std::u16string wide;
  } rows[] = {
      {"\xF0\x9F\x93\xA1!", u"\U0001F4E1!"},  // a surrogate pair
      {"\x80\x80", u"\uFFFD\uFFFD"},          // stray continuation bytes: one each
      {"\xF4\x90\x80\x80x", u"\uFFFDx"},      // beyond U+10FFFF, with its continuations
      {"\xC3(", u"\uFFFD("},                  // the next byte is a character of its own
      {"\xE2\x80", u"\uFFFD"},                // cut short at the end
  };
  for (const auto& row : rows) EXPECT_EQ(platform::utf16(row.text), row.wide) << row.text;
  EXPECT_EQ(platform::utf8(u"\U0001F4E1!"), "\xF0\x9F\x93\xA1!");
  EXPECT_EQ(platform::utf8(std::u16string{char16_t(0xDC00), u'a'}),
            "\xEF\xBF\xBD"
            "a");
}

}  // namespace
