// The received-bytes ring of the termios and network backends: order across the wrap, the
// newest bytes lost when full, XON/XOFF taken out only while output obeys them.
#include "serial/received_input.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using serial::LineSettings;
using serial::ReceivedInput;

std::string drain(ReceivedInput& input) {
  std::string out;
  uint8_t byte = 0;
  while (input.pop(byte)) out.push_back(static_cast<char>(byte));
  return out;
}

void take(ReceivedInput& input, const std::string& bytes, const LineSettings& settings,
          bool& xoff) {
  input.take(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), settings, xoff);
}

TEST(ReceivedInput, keeps_the_order_across_the_wrap_and_loses_the_newest_when_full) {
  ReceivedInput input(4);
  LineSettings settings;
  bool xoff = false;
  take(input, "abc", settings, xoff);
  uint8_t byte = 0;
  ASSERT_TRUE(input.pop(byte));
  EXPECT_EQ(byte, 'a');
  take(input, "defg", settings, xoff);  // room for two, at the wrap: "f" and "g" are lost
  EXPECT_EQ(input.room(), 0u);
  EXPECT_EQ(drain(input), "bcde");
  EXPECT_TRUE(input.empty());
  EXPECT_FALSE(input.pop(byte));
}

TEST(ReceivedInput, xon_and_xoff_steer_the_writer_only_while_output_obeys_them) {
  const std::string on = "\x11", off = "\x13";  // the default XON and XOFF characters
  const struct {
    bool outX;
    std::string received;
    std::string kept;
    bool xoffAfter;
  } rows[] = {
      {true, "a" + off + "b", "ab", true},                         // XOFF taken out, output held
      {true, off + "a" + on, "a", false},                          // the XON after it releases
      {false, "a" + off + "b" + on, "a" + off + "b" + on, false},  // without outX: data
  };
  for (const auto& row : rows) {
    ReceivedInput input(16);
    LineSettings settings;
    settings.outX = row.outX;
    bool xoff = false;
    take(input, row.received, settings, xoff);
    EXPECT_EQ(drain(input), row.kept);
    EXPECT_EQ(xoff, row.xoffAfter);
  }
}

}  // namespace
