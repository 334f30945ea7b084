// zelupdate simulate: a simulated instrument served to other programs, as a terminal server
// (RFC 2217 on loopback by default) or, where the system has them, on a pseudo-terminal.
// The first line of output says where it listens, so that a script can start it and read
// where to connect; it serves until interrupted and keeps one instrument throughout.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli/command.h"
#include "cli/command_options.h"
#include "platform/pseudo_terminal.h"
#include "platform/requests.h"
#include "serial/com_ports.h"
#include "serial/port_names.h"
#include "serial/rfc2217/rfc2217_socket.h"
#include "sim/instrument.h"
#include "sim/line_server.h"
#include "sim/registry.h"
#include "sim/sim_port.h"

namespace {

constexpr const char* kDefaultHost = "127.0.0.1";
constexpr uint16_t kDefaultPort = 2001;

// "[HOST:]PORT", "[::1]:2001" for an IPv6 address; false when the port is no number from 0
// to 65535.
bool parseListenAddress(const std::string& text, std::string& host, uint16_t& port) {
  std::string portText = text;
  host = kDefaultHost;
  if (!text.empty() && text.front() == '[') {
    const size_t close = text.find("]:");
    if (close == std::string::npos) return false;
    host = text.substr(1, close - 1);
    portText = text.substr(close + 2);
  } else if (const size_t colon = text.rfind(':'); colon != std::string::npos) {
    host = text.substr(0, colon);
    portText = text.substr(colon + 1);
  }
  if (portText.empty() || portText.size() > 5 ||
      portText.find_first_not_of("0123456789") != std::string::npos)
    return false;
  const long number = std::strtol(portText.c_str(), nullptr, 10);
  if (number > 65535) return false;
  port = static_cast<uint16_t>(number);
  return true;
}

void tell(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

std::string shownFactor(double factor) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", factor);
  return text;
}

constexpr const char* kPowerCycleLine = "power-cycle";
constexpr const char* kStatusLine = "status";

// The lines that arrive on standard input, read by a thread of their own (a read there may
// wait for ever) and taken by the serving thread. The reader is left to the end of the
// program, which ends it wherever it waits.
class OperatorInput {
 public:
  OperatorInput() {
    std::thread([state = m_state] {
      char buffer[256];
      while (std::fgets(buffer, sizeof buffer, stdin) != nullptr) {
        std::string line = buffer;
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        const std::lock_guard<std::mutex> lock(state->mutex);
        if (state->lines.size() < kMaxPendingLines) state->lines.push_back(line);
      }
    }).detach();
  }

  std::vector<std::string> take() {
    const std::lock_guard<std::mutex> lock(m_state->mutex);
    std::vector<std::string> lines;
    lines.swap(m_state->lines);
    return lines;
  }

 private:
  static constexpr size_t kMaxPendingLines = 64;
  struct State {
    std::mutex mutex;
    std::vector<std::string> lines;
  };
  std::shared_ptr<State> m_state = std::make_shared<State>();
};

class SimulateCommand final : public Command {
 public:
  void define(CLI::App& app) override {
    app.add_option("--rfc2217", m_address, "serve RFC 2217 there (127.0.0.1:2001; 0: any)")
        ->type_name("[[HOST:]PORT]")
        ->expected(0, 1);
    app.add_flag("--pty", m_pty, "serve on a pseudo-terminal (no modem lines)");
    app.add_option("KEY=VALUE", m_options, "a sim: port's options (speed=real by default)")
        ->type_name("");
    app.footer(
        "The first line of output says where it listens; it serves one client at a time,\n"
        "keeps one instrument across connections and ends on Ctrl-C with a report. The\n"
        "KEY=VALUE options: zelupdate(1), SIMULATED INSTRUMENT.");
  }

  std::string check(const CommonOptions&) override {
    // --rfc2217 followed by an option of the instrument has no address of its own.
    if (m_address && m_address->find('=') != std::string::npos && !m_address->starts_with("=") &&
        m_address->find('/') == std::string::npos) {
      m_options.insert(m_options.begin(), *m_address);
      m_address = std::string();
    }
    const bool hostLike = !m_address || m_address->find_first_of("/=") == std::string::npos;
    if (m_address && !m_address->empty() &&
        (!hostLike || !parseListenAddress(*m_address, m_host, m_port))) {
      return "--rfc2217 takes [HOST:]PORT with a port from 0 (any free one) to 65535, not '" +
             serial::printablePortName(*m_address) + "'";
    }
    if (m_pty && m_address) return "--rfc2217 and --pty exclude each other";
    std::string options;
    for (const std::string& option : m_options) {
      if (option.find('=') == std::string::npos) {
        return "unexpected argument '" + serial::printablePortName(option) +
               "' (the instrument's options are KEY=VALUE)";
      }
      if (!options.empty()) options += ',';
      options += option;
    }
    // Served in real time unless a speed is asked for; the virtual clock only moves when this
    // program waits, which a client in another program never makes it do.
    std::string portName = std::string(serial::kSimulatedPortPrefix) + options;
    if (std::string error = sim::parseOptions(portName, m_parsed); !error.empty()) {
      return serial::printablePortName(error);
    }
    if (options.find("speed=") == std::string::npos) {
      portName += options.empty() ? "speed=real" : ",speed=real";
      sim::parseOptions(portName, m_parsed);
    }
    if (m_parsed.speed == sim::SpeedMode::Virtual) {
      return "speed=virtual cannot serve another program: use speed=real or a factor up to 1";
    }
    // The client runs in real time: it cannot keep pace with an instrument that runs faster
    // (the DSP module's exchanges fail), so the factor must not exceed real time.
    if (m_parsed.speed == sim::SpeedMode::Factor && m_parsed.speedFactor > 1) {
      return "speed=" + shownFactor(m_parsed.speedFactor) +
             ": a client in another program runs in real time and cannot keep pace with an "
             "instrument faster than that; use speed=real or a factor up to 1";
    }
    if (!m_parsed.stateFolder.empty()) return sim::stateFolderProblem(m_parsed.stateFolder);
    return std::string();
  }

  int run(const CommonOptions& common) override;

 private:
  std::optional<std::string> m_address;
  bool m_pty = false;
  std::vector<std::string> m_options;
  std::string m_host = kDefaultHost;
  uint16_t m_port = kDefaultPort;
  sim::Options m_parsed;
};

int SimulateCommand::run(const CommonOptions&) {
  const bool pty = m_pty;
  const std::string& host = m_host;
  const uint16_t port = m_port;
  sim::Options& parsed = m_parsed;
  sim::Instrument instrument(parsed);
  if (!instrument.stateError.empty()) {
    std::fprintf(stderr, "zelupdate simulate: %s\n", instrument.stateError.c_str());
    return kExitFailed;
  }
  // The client runs in real time: what it must meet is as long as at real speed.
  if (parsed.speed == sim::SpeedMode::Factor) instrument.hostTimeFactor = parsed.speedFactor;
  sim::installClockFor(parsed);

  platform::RequestCatching catching;
  platform::RequestCatcher catcher(catching);
  sim::ServeHooks hooks;
  hooks.stopAsked = [] {
    return platform::pendingRequests(platform::Request::Interrupt) > 0 ||
           platform::pendingRequests(platform::Request::Termination) > 0;
  };
  hooks.tell = tell;
  // Lines on standard input act on the instrument between exchanges.
  OperatorInput input;
  hooks.poll = [&input, &instrument] {
    for (const std::string& line : input.take()) {
      if (line == kPowerCycleLine) {
        instrument.powerCycle();
        tell("power cycle: the instrument is " + instrument.stateText());
      } else if (line == kStatusLine) {
        tell("the instrument is " + instrument.stateText());
      } else if (!line.empty()) {
        tell("unknown line '" + serial::printablePortName(line) + "': the lines are " +
             kPowerCycleLine + " (switch the instrument off and on) and " + kStatusLine);
      }
    }
  };

  if (pty) {
    platform::PseudoTerminal terminal;
    std::string error;
    if (!terminal.open(error)) {
      std::fprintf(stderr, "zelupdate simulate: %s\n", error.c_str());
      sim::uninstallClock();
      return kExitFailed;
    }
    tell(terminal.farName());
    tell("the instrument is " + instrument.stateText());
    sim::servePseudoTerminal(instrument, terminal, hooks);
  } else {
    std::string error;
    serial::rfc2217::Listener listener = serial::rfc2217::Listener::listen(host, port, error);
    if (!listener.isOpen()) {
      std::fprintf(stderr, "zelupdate simulate: cannot listen on %s port %u: %s\n",
                   serial::printablePortName(host).c_str(), static_cast<unsigned>(port),
                   error.c_str());
      sim::uninstallClock();
      return kExitFailed;
    }
    // No host: every interface, which clients on this machine reach as 0.0.0.0 too.
    const std::string shownHost = host.empty()                          ? "0.0.0.0"
                                  : host.find(':') != std::string::npos ? "[" + host + "]"
                                                                        : host;
    tell(serial::kNetworkPortPrefix + shownHost + ":" + std::to_string(listener.port()));
    if (host.empty()) tell("listening on every interface of this machine");
    tell("the instrument is " + instrument.stateText());
    sim::serveRfc2217(instrument, listener, hooks);
  }
  instrument.saveState();
  std::printf("%s", instrument.report().c_str());
  sim::uninstallClock();
  return kExitOk;
}

}  // namespace

std::unique_ptr<Command> makeSimulateCommand() {
  return std::make_unique<SimulateCommand>();
}
