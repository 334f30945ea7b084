#include "tests/serial/rfc2217/scripted_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>

#include "serial/rfc2217/rfc2217_codec.h"
#include "sim/instrument.h"
#include "sim/registry.h"

namespace net_test {

using namespace serial::rfc2217;

void BridgeClock::sleepMicros(uint64_t micros) {
  if (std::this_thread::get_id() == m_quiet.load()) return;
  m_steady.sleepMicros(micros);
}

namespace {

constexpr const char* kBusyText = "Port already in use\r\n";

void sendAll(int fd, const std::vector<uint8_t>& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t sent = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (sent <= 0) {
      if (sent < 0 && errno == EINTR) continue;
      return;
    }
    done += static_cast<size_t>(sent);
  }
}

}  // namespace

ScriptedServer::ScriptedServer(ServerScript script, BridgeClock* clock)
    : m_script(std::move(script)), m_clock(clock) {
  if (!m_script.simPortName.empty()) instrument = sim::instrumentFor(m_script.simPortName);
  m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (::bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(m_listen, 4) != 0 ||
      ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ::close(m_listen);
    m_listen = -1;
    return;
  }
  m_port = ntohs(address.sin_port);
  m_thread = std::thread([this] { run(); });
}

ScriptedServer::~ScriptedServer() {
  stop();
}

std::string ScriptedServer::portName() const {
  return "rfc2217://127.0.0.1:" + std::to_string(m_port);
}

void ScriptedServer::stop() {
  m_stop = true;
  if (m_thread.joinable()) m_thread.join();
  if (m_listen >= 0) ::close(m_listen);
  m_listen = -1;
}

std::string ScriptedServer::received() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_received;
}

std::vector<ServerCommand> ScriptedServer::commands() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_commands;
}

void ScriptedServer::sendData(const std::string& bytes) {
  uint32_t ticket = 0;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_requests.push_back({Request::Kind::Send, bytes, 0});
    ticket = ++m_requestsQueued;
  }
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      if (m_requestsDone >= ticket || m_stop) return;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
}

void ScriptedServer::setModemState(uint8_t state) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_requests.push_back({Request::Kind::ModemState, {}, state});
  ++m_requestsQueued;
}

void ScriptedServer::dropClient() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_requests.push_back({Request::Kind::Drop, {}, 0});
  ++m_requestsQueued;
}

void ScriptedServer::run() {
  if (m_clock) m_clock->setQuietThread(std::this_thread::get_id());
  while (!m_stop) {
    pollfd entry{m_listen, POLLIN, 0};
    if (::poll(&entry, 1, 2) <= 0) {
      // Requests without a client are done at once (nobody to send to).
      std::lock_guard<std::mutex> lock(m_mutex);
      m_requests.clear();
      m_requestsDone = m_requestsQueued;
      continue;
    }
    const int client = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    ++m_connections;
    serve(client);
    ::close(client);
  }
}

void ScriptedServer::serve(int client) {
  const int one = 1;
  ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  if (m_script.mute) {
    while (!m_stop) {
      uint8_t chunk[256];
      pollfd entry{client, POLLIN, 0};
      if (::poll(&entry, 1, 5) > 0 && ::recv(client, chunk, sizeof chunk, 0) <= 0) return;
    }
    return;
  }
  std::vector<uint8_t> out;
  appendNegotiation(out, kWill, kOptionBinary);
  appendNegotiation(out, kDo, kOptionBinary);
  appendNegotiation(out, kWill, kOptionSuppressGoAhead);
  appendNegotiation(out, kDo, kOptionComPort);
  sendAll(client, out);

  if (instrument) instrument->hostOpen();
  serial::LineSettings settings = instrument ? instrument->hostSettings() : serial::LineSettings{};
  uint8_t mask = 0;
  bool dataSeen = false;
  std::vector<uint8_t> flood;
  int lastModemSent = -1;
  // The server's line: when the bytes taken so far have been shifted out (real time).
  using std::chrono::steady_clock;
  steady_clock::time_point lineFreeAt = steady_clock::now();
  auto frame = [&] {
    const uint32_t bits = 2u + settings.dataBits +
                          (settings.parity != serial::Parity::None ? 1u : 0u) +
                          (settings.stopBits == serial::StopBits::Two ? 1u : 0u);
    return std::chrono::nanoseconds(int64_t{bits} * 1000000000 / settings.baudRate);
  };
  // The line starts when this thread gets round to reading the bytes, which on a busy machine
  // (or under a sanitizer) can be well after they arrived, while the settings change behind them
  // is read at once: that much of the overlap is this server's own lateness, not the port's.
  constexpr std::chrono::milliseconds kReadLateness{20};
  auto framingChanges = [&] {
    const auto now = steady_clock::now();
    if (instrument || lineFreeAt <= now + kReadLateness) {
      lineFreeAt = std::min(lineFreeAt, now);
      return;
    }
    m_garbled += static_cast<uint32_t>((lineFreeAt - now) / frame()) + 1;
    lineFreeAt = now;
  };
  bool dropped = false;
  TelnetDecoder decoder;

  auto answer = [&](uint8_t code, const std::vector<uint8_t>& value) {
    std::vector<uint8_t> bytes;
    appendComPort(bytes, static_cast<uint8_t>(code + kServerOffset), value.data(), value.size());
    sendAll(client, bytes);
  };
  auto modemNow = [&]() -> uint8_t {
    if (!instrument) return m_script.modemState;
    bool cts = false, dsr = false;
    instrument->hostModemStatus(cts, dsr);
    return static_cast<uint8_t>((cts ? kModemCts : 0) | (dsr ? kModemDsr : 0));
  };
  auto notifyModem = [&](bool always) {
    const uint8_t state = modemNow();
    if (!always && (lastModemSent < 0 || state == lastModemSent)) return;
    uint8_t deltas = 0;
    if (lastModemSent >= 0) {
      if ((state ^ lastModemSent) & kModemCts) deltas |= kModemDeltaCts;
      if ((state ^ lastModemSent) & kModemDsr) deltas |= kModemDeltaDsr;
    }
    lastModemSent = state;
    answer(kNotifyModemState, {static_cast<uint8_t>((state | deltas) & (mask | 0x30))});
  };
  auto apply = [&]() {
    if (instrument) instrument->hostSetSettings(settings);
  };
  auto handleCommand = [&](const TelnetEvent& event) {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_commands.push_back({event.code, event.value});
    }
    const uint8_t value = event.value.empty() ? 0 : event.value[0];
    switch (event.code) {
      case kSetBaudRate: {
        const uint32_t asked = baudRateValue(event.value);
        if (asked != 0) {
          framingChanges();
          settings.baudRate = m_script.baudAnswer ? m_script.baudAnswer : asked;
          apply();
        }
        const uint32_t rate = settings.baudRate;
        answer(kSetBaudRate, {static_cast<uint8_t>(rate >> 24), static_cast<uint8_t>(rate >> 16),
                              static_cast<uint8_t>(rate >> 8), static_cast<uint8_t>(rate)});
        break;
      }
      case kSetDataSize:
        if (value >= 5 && value <= 8 && value != settings.dataBits) framingChanges();
        if (value >= 5 && value <= 8) settings.dataBits = value;
        apply();
        answer(kSetDataSize, {settings.dataBits});
        break;
      case kSetParity:
        if (value >= kParityNone && value <= kParityEven) framingChanges();
        if (value == kParityNone) settings.parity = serial::Parity::None;
        if (value == kParityOdd) settings.parity = serial::Parity::Odd;
        if (value == kParityEven) settings.parity = serial::Parity::Even;
        apply();
        answer(kSetParity,
               {static_cast<uint8_t>(settings.parity == serial::Parity::Odd    ? kParityOdd
                                     : settings.parity == serial::Parity::Even ? kParityEven
                                                                               : kParityNone)});
        break;
      case kSetStopSize:
        if (value == kStopSizeOne) settings.stopBits = serial::StopBits::One;
        if (value == kStopSizeTwo) settings.stopBits = serial::StopBits::Two;
        apply();
        answer(kSetStopSize,
               {static_cast<uint8_t>(settings.stopBits == serial::StopBits::Two ? kStopSizeTwo
                                                                                : kStopSizeOne)});
        break;
      case kSetControl:
        if (value == kControlDtrOn || value == kControlDtrOff || value == kControlRtsOn ||
            value == kControlRtsOff) {
          if (!m_script.answerModemLines) break;
          if (instrument && (value == kControlDtrOn || value == kControlDtrOff))
            instrument->hostSetDtr(value == kControlDtrOn);
          if (instrument && (value == kControlRtsOn || value == kControlRtsOff))
            instrument->hostSetRts(value == kControlRtsOn);
        }
        if (value == kControlOutboundNone || value == kControlOutboundHardware) {
          settings.outxCtsFlow = value == kControlOutboundHardware;
          apply();
        }
        answer(kSetControl, {value});
        break;
      case kSetModemStateMask:
        mask = value;
        answer(kSetModemStateMask, {value});
        notifyModem(true);
        break;
      case kPurgeData:
        if (instrument) instrument->hostPurge(value & kPurgeReceive, value & kPurgeTransmit);
        answer(kPurgeData, {value});
        break;
      default:
        answer(event.code, event.value);
        break;
    }
  };

  while (!m_stop && !dropped) {
    pollfd entries[2] = {{client, POLLIN, 0}, {m_listen, POLLIN, 0}};
    ::poll(entries, 2, 1);
    if (entries[1].revents & POLLIN) {
      // The port is lent to one client at a time: a second one is told so and dropped.
      const int other = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
      if (other >= 0) {
        sendAll(other, std::vector<uint8_t>(kBusyText, kBusyText + std::strlen(kBusyText)));
        ::close(other);
      }
    }
    if (entries[0].revents & (POLLIN | POLLHUP | POLLERR)) {
      uint8_t chunk[4096];
      const ssize_t got = ::recv(client, chunk, sizeof chunk, MSG_DONTWAIT);
      if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) break;
      if (got > 0) {
        TelnetDecoder::Output decoded;
        decoder.feed(chunk, static_cast<size_t>(got), decoded);
        size_t taken = 0;
        auto takeData = [&](size_t upTo) {
          if (upTo > taken) {
            dataSeen = true;
            if (instrument) {
              uint32_t written = 0;
              instrument->hostWrite(decoded.data.data() + taken,
                                    static_cast<uint32_t>(upTo - taken), written);
            } else {
              const auto now = steady_clock::now();
              lineFreeAt = std::max(lineFreeAt, now) + frame() * static_cast<int64_t>(upTo - taken);
              std::lock_guard<std::mutex> lock(m_mutex);
              m_received.append(decoded.data.begin() + static_cast<std::ptrdiff_t>(taken),
                                decoded.data.begin() + static_cast<std::ptrdiff_t>(upTo));
            }
          }
          taken = upTo;
        };
        for (size_t i = 0; i < decoded.events.size(); ++i) {
          takeData(decoded.dataBefore[i]);
          if (decoded.events[i].kind == TelnetEvent::Kind::ComPort)
            handleCommand(decoded.events[i]);
        }
        takeData(decoded.data.size());
      }
    }
    std::vector<Request> requests;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      requests.swap(m_requests);
    }
    for (const Request& request : requests) {
      if (request.kind == Request::Kind::Send) {
        std::vector<uint8_t> bytes;
        appendData(bytes, reinterpret_cast<const uint8_t*>(request.bytes.data()),
                   request.bytes.size());
        sendAll(client, bytes);
      } else if (request.kind == Request::Kind::ModemState) {
        m_script.modemState = request.state;
        notifyModem(false);
      } else {
        dropped = true;
      }
      std::lock_guard<std::mutex> lock(m_mutex);
      ++m_requestsDone;
    }
    if (instrument) {
      std::vector<uint8_t> fromInstrument;
      uint8_t byte = 0;
      while (instrument->hostReadByte(byte) == serial::ReadResult::Byte) {
        fromInstrument.push_back(byte);
      }
      if (!fromInstrument.empty()) {
        std::vector<uint8_t> bytes;
        appendData(bytes, fromInstrument.data(), fromInstrument.size());
        sendAll(client, bytes);
      }
    }
    notifyModem(false);
    if (m_script.flood == ServerScript::Flood::Nops ||
        (m_script.flood == ServerScript::Flood::Data && dataSeen)) {
      // As fast as the socket takes it, never blocking (the server still hears stop()), and
      // filling it each time round so that every read of the client finds it full. What
      // a send leaves over goes first next time: a NOP cut in half would turn into data.
      for (int i = 0; i < 1024; ++i) {
        if (flood.empty()) {
          flood.assign(4096, 'x');
          for (size_t at = 0; m_script.flood == ServerScript::Flood::Nops && at < flood.size();
               at += 2) {
            flood[at] = kIac;
            flood[at + 1] = kNop;
          }
        }
        const ssize_t sent =
            ::send(client, flood.data(), flood.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent <= 0) break;
        flood.erase(flood.begin(), flood.begin() + sent);
      }
    }
  }
  if (instrument) instrument->hostClose();
}

}  // namespace net_test
