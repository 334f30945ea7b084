// A stand-in for the target on the far end of the programming link, for tests of single
// link operations and commands: each packet the host writes takes the next scripted reply
// off a queue, so multi-packet exchanges (with echoes and retries) can be played byte by
// byte on the virtual clock. Whole updates are tested against the simulated instrument.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "serial/comm.h"
#include "serial/serial_device.h"

namespace flash_test {

// Bytes as written in tests: "\x02\x20\x00" etc.
using Bytes = std::string;

// A target packet: length, data, 16-bit sum of the data alone.
Bytes targetPacket(const Bytes& data);
// A host packet: length, data, 16-bit sum of length and data.
Bytes hostPacket(const Bytes& data);
inline const Bytes kAck = targetPacket(std::string("\x20\x00", 2));
// A 32-bit number as the link sends it (little-endian).
Bytes le32(uint32_t v);
// The acknowledgement followed by the command's answer.
Bytes ackAnd(const Bytes& answer);

struct TargetLine {
  // Every byte the host wrote, in order, and the size of each write call.
  Bytes written;
  std::vector<uint32_t> writeSizes;
  int purges = 0;
  int openCalls = 0;
  bool openFails = false;
  int writeFailures = 0;  // write calls that fail (taking nothing)
  bool cts = false;       // update mode: CTS off, DSR on
  bool dsr = true;
  bool modemLinesFail = false;
  bool rts = false;
  bool dtr = false;
  uint32_t baudRate = 0;

  // Replies to the host's packets (writes of 2 bytes and more), one per packet, in order;
  // an empty reply means silence. Bytes are sent as soon as the packet is in.
  std::deque<Bytes> replies;
  // Replies to single-byte writes that are not echoes (raw transfers), when set.
  std::function<void(TargetLine&, const Bytes&)> onWrite;
  // Adds bytes that arrive afterMs from now.
  void send(const Bytes& bytes, uint64_t afterMs = 0);

  struct Arrival {
    uint64_t atMicros;
    uint8_t byte;
  };
  std::deque<Arrival> incoming;
  // The single-byte writes are echoes while an answer is being received; they are kept
  // apart from the packets in the record but still in written.
};

class TargetDevice : public serial::SerialDevice {
 public:
  explicit TargetDevice(std::shared_ptr<TargetLine> line) : m_line(std::move(line)) {}
  bool isOpen() const override { return m_open; }

 protected:
  bool openImpl() override;
  void closeImpl() override { m_open = false; }
  bool setQueueSizesImpl(uint32_t, uint32_t) override { return true; }
  bool purgeImpl(bool input, bool output) override;
  bool getSettingsImpl(serial::LineSettings& settings) override;
  bool setSettingsImpl(const serial::LineSettings& settings) override;
  serial::ReadResult readByteImpl(uint8_t& byte) override;
  bool writeImpl(const uint8_t* data, uint32_t size, uint32_t& written) override;
  bool drainImpl() override { return true; }
  bool outputHeldImpl(bool& held) override {
    held = false;
    return true;
  }
  bool modemStatusImpl(bool& cts, bool& dsr) override;
  bool setRtsImpl() override;
  bool setDtrImpl() override;
  bool clearDtrImpl() override;

 private:
  std::shared_ptr<TargetLine> m_line;
  bool m_open = false;
  serial::LineSettings m_settings{};
};

// Installs a virtual clock, a "target:" device on a COM number and an open port on it at
// the link's settings; the run state is reset.
class LinkFixture {
 public:
  LinkFixture();
  ~LinkFixture();
  std::shared_ptr<TargetLine> line = std::make_shared<TargetLine>();
  platform::VirtualClock clock;
  CComm port;
  uint32_t nowMs() { return static_cast<uint32_t>(clock.nowMicros() / 1000); }

 private:
  platform::ScopedClock m_scopedClock{clock};
};

// The host's packets in what was written, echoes (single-byte writes) left out.
std::vector<Bytes> hostPackets(const TargetLine& line);

}  // namespace flash_test
