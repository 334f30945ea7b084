#include "tests/support/fake_serial_device.h"

#include <algorithm>

#include "platform/clock.h"

namespace testing_support {
namespace {

// An empty read returns after this long, as the real devices do.
constexpr uint64_t kEmptyReadMicros = 100 * 1000;

uint64_t nowMs() {
  return platform::clock().nowMicros() / 1000;
}

}  // namespace

void FakeSerialLine::receiveAt(uint64_t atMs, std::string_view bytes) {
  const uint64_t atMicros = atMs * 1000;
  // Keep the queue ordered by arrival; equal times keep the order in which they were queued.
  auto position = std::upper_bound(
      incoming.begin(), incoming.end(), atMicros,
      [](uint64_t time, const Arrival& arrival) { return time < arrival.atMicros; });
  std::vector<Arrival> arrivals;
  for (char c : bytes) arrivals.push_back({atMicros, static_cast<uint8_t>(c)});
  incoming.insert(position, arrivals.begin(), arrivals.end());
}

void FakeSerialLine::receive(std::string_view bytes) {
  receiveAt(nowMs(), bytes);
}

void FakeSerialLine::receiveSpaced(uint64_t firstAtMs, uint64_t intervalMs,
                                   std::string_view bytes) {
  uint64_t at = firstAtMs;
  for (char c : bytes) {
    receiveAt(at, std::string_view(&c, 1));
    at += intervalMs;
  }
}

std::string FakeSerialLine::pending() const {
  std::string text;
  for (const Arrival& arrival : incoming) text.push_back(static_cast<char>(arrival.byte));
  return text;
}

int FakeSerialLine::count(std::string_view event) const {
  return static_cast<int>(std::count(events.begin(), events.end(), event));
}

FakeSerialDevice::FakeSerialDevice(std::shared_ptr<FakeSerialLine> line)
    : m_line(std::move(line)) {}

bool FakeSerialDevice::openImpl() {
  FakeSerialLine& line = *m_line;
  ++line.openCalls;
  if (line.open || line.openFailures < 0) {
    line.events.push_back("open failed");
    return false;
  }
  if (line.openFailures > 0) {
    --line.openFailures;
    line.events.push_back("open failed");
    return false;
  }
  line.events.push_back("open");
  line.open = true;
  m_open = true;
  return true;
}

void FakeSerialDevice::closeImpl() {
  if (!m_open) return;
  m_line->events.push_back("close");
  m_line->open = false;
  m_open = false;
}

bool FakeSerialDevice::setQueueSizesImpl(uint32_t inputBytes, uint32_t outputBytes) {
  if (!m_open) return false;
  m_line->events.push_back("queues " + std::to_string(inputBytes) + " " +
                           std::to_string(outputBytes));
  return true;
}

bool FakeSerialDevice::purgeImpl(bool input, bool output) {
  if (!m_open) return false;
  FakeSerialLine& line = *m_line;
  std::string event = "purge";
  if (input) {
    event += " in";
    // Only what has arrived is in the driver's queue; later bytes are still on the line.
    const uint64_t now = platform::clock().nowMicros();
    while (!line.incoming.empty() && line.incoming.front().atMicros <= now) {
      line.incoming.pop_front();
    }
  }
  if (output) event += " out";
  line.events.push_back(event);
  return true;
}

bool FakeSerialDevice::getSettingsImpl(serial::LineSettings& settings) {
  if (!m_open || m_line->getSettingsFails) return false;
  settings = m_line->settings;
  return true;
}

bool FakeSerialDevice::setSettingsImpl(const serial::LineSettings& settings) {
  if (!m_open || m_line->setSettingsFails) return false;
  m_line->settings = settings;
  m_line->events.push_back("settings");
  return true;
}

serial::ReadResult FakeSerialDevice::readByteImpl(uint8_t& byte) {
  if (!m_open) return serial::ReadResult::Failed;
  FakeSerialLine& line = *m_line;
  if (line.readsFail) return serial::ReadResult::Failed;
  platform::Clock& clock = platform::clock();
  const uint64_t now = clock.nowMicros();
  if (line.incoming.empty() || line.incoming.front().atMicros > now + kEmptyReadMicros) {
    clock.sleepMicros(kEmptyReadMicros);
    return serial::ReadResult::Empty;
  }
  const FakeSerialLine::Arrival arrival = line.incoming.front();
  line.incoming.pop_front();
  if (arrival.atMicros > now) clock.sleepMicros(arrival.atMicros - now);
  byte = arrival.byte;
  return serial::ReadResult::Byte;
}

bool FakeSerialDevice::writeImpl(const uint8_t* data, uint32_t size, uint32_t& written) {
  written = 0;
  if (!m_open) return false;
  FakeSerialLine& line = *m_line;
  ++line.writeCalls;
  bool ok = true;
  uint32_t take = std::min(size, line.maxBytesPerWrite);
  if (line.writeFailures > 0) {
    --line.writeFailures;
    ok = false;
    take = std::min(size, line.writtenOnFailure);
  }
  line.written.append(reinterpret_cast<const char*>(data), take);
  line.events.push_back("write " + std::to_string(take));
  written = take;
  return ok;
}

bool FakeSerialDevice::drainImpl() {
  if (!m_open) return false;
  m_line->events.push_back("drain");
  return true;
}

bool FakeSerialDevice::outputHeldImpl(bool& held) {
  held = false;
  if (!m_open) return false;
  FakeSerialLine& line = *m_line;
  ++line.heldQueries;
  held = line.heldForever || nowMs() < line.heldUntilMs;
  return true;
}

bool FakeSerialDevice::modemStatusImpl(bool& cts, bool& dsr) {
  if (!m_open || !m_line->hasModemLines) return false;
  cts = m_line->cts;
  dsr = m_line->dsr;
  return true;
}

bool FakeSerialDevice::setRtsImpl() {
  if (!m_open || !m_line->hasModemLines) return false;
  m_line->rts = true;
  m_line->events.push_back("setRts");
  return true;
}

bool FakeSerialDevice::setDtrImpl() {
  if (!m_open || !m_line->hasModemLines) return false;
  m_line->dtr = true;
  m_line->events.push_back("setDtr");
  return true;
}

bool FakeSerialDevice::clearDtrImpl() {
  if (!m_open || !m_line->hasModemLines) return false;
  m_line->dtr = false;
  m_line->events.push_back("clearDtr");
  return true;
}

}  // namespace testing_support
