#include "tests/flash/target_double.h"

#include "flash/programming_link.h"
#include "run/run_state.h"
#include "serial/com_ports.h"
#include "serial/device_factory.h"

namespace flash_test {

namespace {

constexpr int kTestPort = 14;
constexpr uint64_t kEmptyReadMicros = 100000;

Bytes withSum(const Bytes& data, uint32_t start) {
  uint32_t sum = start;
  for (unsigned char c : data) sum += c;
  Bytes packet(1, static_cast<char>(data.size()));
  packet += data;
  packet += static_cast<char>(sum & 0xFF);
  packet += static_cast<char>((sum >> 8) & 0xFF);
  return packet;
}

}  // namespace

Bytes targetPacket(const Bytes& data) {
  return withSum(data, 0);
}
Bytes le32(uint32_t v) {
  return {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
          static_cast<char>(v >> 24)};
}

Bytes ackAnd(const Bytes& answer) {
  return kAck + targetPacket(answer);
}

std::vector<Bytes> hostPackets(const TargetLine& line) {
  std::vector<Bytes> packets;
  size_t at = 0;
  for (uint32_t size : line.writeSizes) {
    if (size > 1) packets.push_back(line.written.substr(at, size));
    at += size;
  }
  return packets;
}

Bytes hostPacket(const Bytes& data) {
  return withSum(data, static_cast<uint32_t>(data.size()));
}

void TargetLine::send(const Bytes& bytes, uint64_t afterMs) {
  const uint64_t at = platform::clock().nowMicros() + afterMs * 1000;
  for (unsigned char c : bytes) incoming.push_back({at, c});
}

bool TargetDevice::openImpl() {
  ++m_line->openCalls;
  if (m_line->openFails) return false;
  m_open = true;
  return true;
}

bool TargetDevice::purgeImpl(bool input, bool) {
  if (!m_open) return false;
  ++m_line->purges;
  if (input) {
    const uint64_t now = platform::clock().nowMicros();
    while (!m_line->incoming.empty() && m_line->incoming.front().atMicros <= now)
      m_line->incoming.pop_front();
  }
  return true;
}

bool TargetDevice::getSettingsImpl(serial::LineSettings& settings) {
  settings = m_settings;
  return true;
}

bool TargetDevice::setSettingsImpl(const serial::LineSettings& settings) {
  m_settings = settings;
  m_line->baudRate = settings.baudRate;
  return true;
}

serial::ReadResult TargetDevice::readByteImpl(uint8_t& byte) {
  if (!m_open) return serial::ReadResult::Failed;
  platform::Clock& clock = platform::clock();
  const uint64_t now = clock.nowMicros();
  auto& incoming = m_line->incoming;
  if (incoming.empty() || incoming.front().atMicros > now + kEmptyReadMicros) {
    clock.sleepMicros(kEmptyReadMicros);
    return serial::ReadResult::Empty;
  }
  const TargetLine::Arrival arrival = incoming.front();
  incoming.pop_front();
  if (arrival.atMicros > now) clock.sleepMicros(arrival.atMicros - now);
  byte = arrival.byte;
  return serial::ReadResult::Byte;
}

bool TargetDevice::writeImpl(const uint8_t* data, uint32_t size, uint32_t& written) {
  written = 0;
  if (!m_open) return false;
  if (m_line->writeFailures > 0) {
    --m_line->writeFailures;
    return false;
  }
  const Bytes bytes(reinterpret_cast<const char*>(data), size);
  m_line->written += bytes;
  m_line->writeSizes.push_back(size);
  written = size;
  if (m_line->onWrite) {
    m_line->onWrite(*m_line, bytes);
  } else if (size >= 2 && !m_line->replies.empty()) {
    const Bytes reply = m_line->replies.front();
    m_line->replies.pop_front();
    m_line->send(reply);
  }
  return true;
}

bool TargetDevice::modemStatusImpl(bool& cts, bool& dsr) {
  if (m_line->modemLinesFail) return false;
  cts = m_line->cts;
  dsr = m_line->dsr;
  return true;
}

bool TargetDevice::setRtsImpl() {
  m_line->rts = true;
  return true;
}

bool TargetDevice::setDtrImpl() {
  m_line->dtr = true;
  return true;
}

bool TargetDevice::clearDtrImpl() {
  m_line->dtr = false;
  return true;
}

LinkFixture::LinkFixture() {
  resetRunState();
  registerSerialDeviceFactory(
      "target:", [line = line](const std::string&) { return std::make_unique<TargetDevice>(line); },
      [](const std::string&) { return serial::ProbeResult::Free; });
  serial::setComPortDevice(kTestPort, "target:");
  port.m_portNo = kTestPort;
  port.m_parity = kLinkParityEven;
  port.m_handshake = kLinkHandshakeNone;
  openProgrammingLink(kLinkStartBaud, 5000, port);
  line->written.clear();
  line->writeSizes.clear();
  line->purges = 0;
}

LinkFixture::~LinkFixture() {
  port.close();
  serial::setComPortDevice(kTestPort, "");
  registerSerialDeviceFactory("target:", nullptr, nullptr);
  resetRunState();
}

}  // namespace flash_test
