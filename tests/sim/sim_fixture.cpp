#include "tests/sim/sim_fixture.h"

#include "serial/com_ports.h"
#include "sim/registry.h"

namespace sim_testing {

void putLe32(Bytes& bytes, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

uint32_t le32(const Bytes& bytes, size_t at) {
  return static_cast<uint32_t>(bytes[at]) | static_cast<uint32_t>(bytes[at + 1]) << 8 |
         static_cast<uint32_t>(bytes[at + 2]) << 16 | static_cast<uint32_t>(bytes[at + 3]) << 24;
}

Bytes requestPacket(const Bytes& data) {
  Bytes packet = {static_cast<uint8_t>(data.size())};
  uint16_t sum = static_cast<uint16_t>(data.size());
  for (uint8_t byte : data) {
    packet.push_back(byte);
    sum = static_cast<uint16_t>(sum + byte);
  }
  packet.push_back(static_cast<uint8_t>(sum));
  packet.push_back(static_cast<uint8_t>(sum >> 8));
  return packet;
}

Bytes loaderDownload(uint32_t baud, Bytes image) {
  image.resize(512, 0);
  image[510] = static_cast<uint8_t>(115200 / baud);
  uint8_t sum = 0;
  for (size_t i = 0; i < 511; ++i) sum = static_cast<uint8_t>(sum + image[i]);
  image[511] = sum;
  image.insert(image.begin(), 0xFF);
  return image;
}

Bytes transferDownload(const Bytes& program, uint32_t loadAddress, uint32_t startAddress,
                       int sumError) {
  Bytes bytes;
  putLe32(bytes, static_cast<uint32_t>(program.size()));
  putLe32(bytes, loadAddress);
  putLe32(bytes, startAddress);
  bytes.insert(bytes.end(), program.begin(), program.end());
  uint16_t sum = 0;
  for (size_t i = 4; i < bytes.size(); ++i) sum = static_cast<uint16_t>(sum + bytes[i]);
  sum = static_cast<uint16_t>(sum + sumError);
  bytes.push_back(static_cast<uint8_t>(sum));
  bytes.push_back(static_cast<uint8_t>(sum >> 8));
  return bytes;
}

SimTest::SimTest() {
  sim::resetInstruments();
}

SimTest::~SimTest() {
  comm.close();
  serial::setComPortDevice(kPort, "");
  sim::resetInstruments();
}

std::shared_ptr<sim::Instrument> SimTest::attach(const std::string& portName) {
  name = portName;
  serial::setComPortDevice(kPort, portName);
  comm.m_portNo = kPort;
  return sim::instrumentFor(portName);
}

bool SimTest::openAt(int baud, int dataBits, int parity, int stopBits) {
  comm.m_baudRate = baud;
  comm.m_dataBits = dataBits;
  comm.m_parity = parity;
  comm.m_stopBits = stopBits;
  comm.m_handshake = 0;
  return comm.open() == 0;
}

bool SimTest::send(const std::string& text) {
  return comm.writeBufferToPort(text.data(), static_cast<uint32_t>(text.size())) != 0;
}

bool SimTest::send(const Bytes& bytes) {
  return comm.writeBufferToPort(bytes.data(), static_cast<uint32_t>(bytes.size())) != 0;
}

std::string SimTest::query(const std::string& text, int readTimeoutMs) {
  if (!send(text)) return {};
  comm.m_stopDelimiter = 10;
  comm.m_readTimeout = readTimeoutMs;
  char answer[256] = {};
  uint32_t count = 0;
  if (comm.readStringFromPort(answer, count, sizeof answer - 1) == 0) return {};
  return std::string(answer, count);
}

Bytes SimTest::readRaw(uint32_t count, int readTimeoutMs) {
  comm.m_stopDelimiter = -1;
  comm.m_readTimeout = readTimeoutMs;
  Bytes bytes(count);
  uint32_t got = 0;
  if (count == 0) return {};
  comm.readBufferFromPort(bytes.data(), got, count);
  bytes.resize(got);
  return bytes;
}

bool SimTest::modemLines(int& cts, int& dsr) {
  return comm.getCts(cts) != 0 && comm.getDsr(dsr) != 0;
}

bool SimTest::enterTransferProgram(uint32_t baud) {
  if (!comm.isOpen() && !openAt(9600)) {
    ADD_FAILURE() << "port does not open";
    return false;
  }
  send(std::string("SENSE:SWUP\r\n"));
  if (!openAt(19200, 8, kParityEven)) return false;
  send(loaderDownload(baud));
  const Bytes letter = readRaw(1, 2000);
  if (letter != Bytes{'T'}) {
    ADD_FAILURE() << "loader not taken";
    return false;
  }
  send(Bytes{'S'});
  if (!openAt(static_cast<int>(baud), 8, kParityEven)) return false;
  send(transferDownload(Bytes(3000, 0x90)));
  if (readRaw(1, 2000) != Bytes{'T'}) {
    ADD_FAILURE() << "transfer program not taken";
    return false;
  }
  return true;
}

bool SimTest::receivePacket(Bytes& data, int (*echoFilter)(size_t index, uint8_t byte)) {
  data.clear();
  comm.m_stopDelimiter = -1;
  Bytes all;
  size_t expected = 1;
  while (all.size() < expected) {
    uint8_t byte = 0;
    uint32_t got = 0;
    if (comm.readBufferFromPort(&byte, got, 1) != 0 || got != 1) return false;
    uint8_t echo = byte;
    if (echoFilter) {
      const int filtered = echoFilter(all.size(), byte);
      if (filtered < 0) return false;  // no echo at all: the test stops listening
      echo = static_cast<uint8_t>(filtered);
    }
    comm.writeBufferToPort(&echo, 1);
    all.push_back(byte);
    if (all.size() == 1) expected = static_cast<size_t>(byte) + 3;
  }
  uint16_t sum = 0;
  for (size_t i = 1; i + 2 < all.size(); ++i) sum = static_cast<uint16_t>(sum + all[i]);
  const uint16_t sent = static_cast<uint16_t>(all[all.size() - 2] | all[all.size() - 1] << 8);
  data.assign(all.begin() + 1, all.end() - 2);
  return sum == sent;
}

Bytes SimTest::exchange(const Bytes& request) {
  comm.m_readTimeout = 10000;
  comm.m_port->purge(true, false);
  if (!send(requestPacket(request))) return {};
  Bytes ack;
  if (!receivePacket(ack) || ack != Bytes{0x20, 0x00}) return {};
  Bytes answer;
  if (!receivePacket(answer)) return {};
  return answer;
}

}  // namespace sim_testing
