// The Telnet / COM-PORT stream codec and the network port names, fed every split of each
// stream.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "serial/rfc2217/rfc2217_codec.h"
#include "serial/rfc2217/rfc2217_device.h"

namespace net_test {
namespace {

using namespace serial::rfc2217;

std::vector<uint8_t> bytes(const std::string& text) {
  return {text.begin(), text.end()};
}

// What a decoder makes of a stream: its data, and its events written as text.
struct Decoded {
  std::string data;
  std::vector<std::string> events;
};

Decoded decode(const std::vector<uint8_t>& stream, size_t split, bool serverBinary = true) {
  TelnetDecoder decoder;
  decoder.setServerBinary(serverBinary);
  Decoded result;
  size_t offset = 0;
  while (offset < stream.size()) {
    const size_t size = std::min(split, stream.size() - offset);
    TelnetDecoder::Output out;
    decoder.feed(stream.data() + offset, size, out);
    result.data.append(out.data.begin(), out.data.end());
    for (const TelnetEvent& event : out.events) {
      std::string text;
      if (event.kind == TelnetEvent::Kind::Negotiation) {
        text = std::to_string(event.verb) + " " + std::to_string(event.option);
      } else {
        text = "cp " + std::to_string(event.code) + ":";
        for (uint8_t value : event.value) text += " " + std::to_string(value);
      }
      result.events.push_back(text);
    }
    offset += size;
  }
  return result;
}

TEST(TelnetDecoder, SplitsDataFromCommandsInAnyChunking) {
  struct Row {
    const char* scenario;
    std::string stream;
    std::string data;
    std::vector<std::string> events;
    bool serverBinary = true;
  };
  const std::vector<Row> rows = {
      {"plain data", "abc", "abc", {}},
      {"doubled IAC is one data byte",
       "a\xff\xff"
       "b",
       "a\xff"
       "b",
       {}},
      {"negotiation between data",
       "a\xff\xfd\x2c"
       "b",
       "ab",
       {"253 44"}},
      {"modem state", "\xff\xfa\x2c\x6b\x30\xff\xf0", "", {"cp 107: 48"}},
      // A baud rate whose bytes contain 0xFF comes with them doubled.
      {"baud answer with IAC inside",
       std::string("\xff\xfa\x2c\x65\x00\xff\xff\x00\x01\xff\xf0", 11),
       "",
       {"cp 101: 0 255 0 1"}},
      {"one-byte commands are dropped", "\xff\xf1x\xff\xf9y", "xy", {}},
      // Subnegotiations of other options carry nothing for the port.
      {"other option's subnegotiation", "\xff\xfa\x18\x01\xff\xf0z", "z", {}},
      // A server that forgets the SE: the command after IAC is read normally.
      {"subnegotiation broken off", "\xff\xfa\x2c\x6b\xff\xfb\x01q", "q", {"251 1"}},
      {"without binary CR NUL is CR", std::string("a\r\0b\r\n", 6), "a\rb\r\n", {}, false},
      {"in binary NUL after CR is data", std::string("\r\0", 2), std::string("\r\0", 2), {}},
  };
  for (const Row& row : rows) {
    for (size_t split : {size_t{1}, size_t{2}, size_t{3}, size_t{64}}) {
      SCOPED_TRACE(std::string(row.scenario) + ", chunks of " + std::to_string(split));
      const Decoded decoded = decode(bytes(row.stream), split, row.serverBinary);
      EXPECT_EQ(decoded.data, row.data);
      EXPECT_EQ(decoded.events, row.events);
    }
  }
}

TEST(TelnetDecoder, OverlongSubnegotiationIsDroppedAndTheStreamGoesOn) {
  std::string stream = "\xff\xfa\x2c\x6b";
  stream += std::string(kMaxSubnegotiationBytes + 10, 'x');
  stream +=
      "\xff\xf0"
      "ok";
  const Decoded decoded = decode(bytes(stream), 7);
  EXPECT_EQ(decoded.data, "ok");
  EXPECT_TRUE(decoded.events.empty());
}

TEST(TelnetEncoder, EscapesWhatTheDecoderReadsBack) {
  struct Row {
    std::string data;
    bool binary;
    std::string wire;
  };
  const Row rows[] = {
      {"\xff", true, "\xff\xff"},
      {"a\xff\xff", true, "a\xff\xff\xff\xff"},
      {"\r\n", true, "\r\n"},
      // Without binary a carriage return is followed by NUL.
      {"\r\n\r", false, std::string("\r\0\n\r\0", 5)},
  };
  for (const Row& row : rows) {
    std::vector<uint8_t> wire;
    appendData(wire, reinterpret_cast<const uint8_t*>(row.data.data()), row.data.size(),
               row.binary);
    EXPECT_EQ(wire, bytes(row.wire));
    EXPECT_EQ(decode(wire, 1, row.binary).data, row.data);
  }
  std::vector<uint8_t> command;
  appendBaudRate(command, 0x0001FF00);
  EXPECT_EQ(command, bytes(std::string("\xff\xfa\x2c\x01\x00\x01\xff\xff\x00\xff\xf0", 11)));
  EXPECT_EQ(decode(command, 1).events, std::vector<std::string>{"cp 1: 0 1 255 0"});
}

TEST(NetworkPortName, HostAndPort) {
  struct Row {
    const char* name;
    bool valid;
    const char* host;
    uint16_t port;
  };
  const Row rows[] = {
      {"rfc2217://rack-4:2001", true, "rack-4", 2001},
      {"rfc2217://127.0.0.1:65535", true, "127.0.0.1", 65535},
      {"rfc2217://[::1]:7000", true, "::1", 7000},
      {"rfc2217://rack-4", false, "", 0},        // no port
      {"rfc2217://rack-4:", false, "", 0},       // empty port
      {"rfc2217://:2001", false, "", 0},         // no host
      {"rfc2217://rack-4:0", false, "", 0},      // port 0 is no port
      {"rfc2217://rack-4:65536", false, "", 0},  // beyond 16 bits
      {"rfc2217://rack-4:20x1", false, "", 0},
      {"rfc2217://::1:7000", false, "", 0},  // IPv6 needs brackets
      {"rfc2217://[::1]7000", false, "", 0},
      {"/dev/ttyS0", false, "", 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::string host;
    uint16_t port = 0;
    EXPECT_EQ(serial::parseNetworkPortName(row.name, host, port), row.valid);
    if (!row.valid) continue;
    EXPECT_EQ(host, row.host);
    EXPECT_EQ(port, row.port);
  }
}

}  // namespace
}  // namespace net_test
