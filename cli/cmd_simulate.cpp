// zelupdate simulate: a simulated instrument served to other programs, as a terminal server
// (RFC 2217 on loopback by default) or, where the system has them, on a pseudo-terminal.
// The first line of output says where it listens, so that a script can start it and read
// where to connect; it serves until interrupted and keeps one instrument throughout.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "platform/pseudo_terminal.h"
#include "platform/requests.h"
#include "serial/com_ports.h"
#include "serial/rfc2217/rfc2217_socket.h"
#include "sim/instrument.h"
#include "sim/line_server.h"
#include "sim/registry.h"
#include "sim/sim_port.h"

namespace {

constexpr const char* kSimulateUsage =
    "usage: zelupdate simulate [--rfc2217 [HOST:]PORT | --pty] [KEY=VALUE,...]\n"
    "  serves a simulated instrument (the options of a sim: port; speed=real by default)\n"
    "  as an RFC 2217 terminal server (default 127.0.0.1:2001) or on a pseudo-terminal\n";
constexpr const char* kDefaultHost = "127.0.0.1";
constexpr uint16_t kDefaultPort = 2001;

int usageError(const std::string& detail) {
  std::fprintf(stderr, "zelupdate simulate: %s\n%s", platform::printablePortName(detail).c_str(),
               kSimulateUsage);
  return kExitUsage;
}

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

}  // namespace

int commandSimulate(const std::vector<std::string>& args, const CommonOptions&) {
  bool pty = false;
  bool network = false;
  std::string host = kDefaultHost;
  uint16_t port = kDefaultPort;
  std::string options;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--pty") {
      pty = true;
    } else if (arg == "--rfc2217") {
      network = true;
      if (i + 1 < args.size() && args[i + 1].find('=') == std::string::npos &&
          !args[i + 1].starts_with("--")) {
        if (!parseListenAddress(args[++i], host, port))
          return usageError(
              "--rfc2217 takes [HOST:]PORT with a port from 0 (any free one) to 65535, not '" +
              args[i] + "'");
      }
    } else if (arg.find('=') != std::string::npos && !arg.starts_with("--")) {
      if (!options.empty()) options += ',';
      options += arg;
    } else {
      return usageError("unexpected argument '" + arg + "'");
    }
  }
  if (pty && network) return usageError("--rfc2217 and --pty exclude each other");

  // Served in real time unless a speed is asked for; the virtual clock only moves when this
  // program waits, which a client in another program never makes it do.
  sim::Options parsed;
  std::string portName = std::string(sim::kPortPrefix) + options;
  if (std::string error = sim::parseOptions(portName, parsed); !error.empty())
    return usageError(error);
  if (options.find("speed=") == std::string::npos) {
    portName += options.empty() ? "speed=real" : ",speed=real";
    sim::parseOptions(portName, parsed);
  }
  if (parsed.speed == sim::SpeedMode::Virtual)
    return usageError("speed=virtual cannot serve another program: use speed=real or a factor");
  sim::Instrument instrument(parsed);
  if (!instrument.stateError.empty()) {
    std::fprintf(stderr, "zelupdate simulate: %s\n", instrument.stateError.c_str());
    return kExitFailed;
  }
  sim::installClockFor(parsed);

  platform::RequestCatching catching;
  platform::RequestCatcher catcher(catching);
  sim::ServeHooks hooks;
  hooks.stopAsked = [] {
    return platform::pendingRequests(platform::Request::Interrupt) > 0 ||
           platform::pendingRequests(platform::Request::Termination) > 0;
  };
  hooks.tell = tell;

  if (pty) {
    platform::PseudoTerminal terminal;
    std::string error;
    if (!terminal.open(error)) {
      std::fprintf(stderr, "zelupdate simulate: %s\n", error.c_str());
      sim::uninstallClock();
      return kExitFailed;
    }
    tell(terminal.farName());
    sim::servePseudoTerminal(instrument, terminal, hooks);
  } else {
    std::string error;
    platform::rfc2217::Listener listener = platform::rfc2217::Listener::listen(host, port, error);
    if (!listener.isOpen()) {
      std::fprintf(stderr, "zelupdate simulate: cannot listen on %s port %u: %s\n",
                   platform::printablePortName(host).c_str(), static_cast<unsigned>(port),
                   error.c_str());
      sim::uninstallClock();
      return kExitFailed;
    }
    const std::string shownHost = host.find(':') != std::string::npos ? "[" + host + "]" : host;
    tell("rfc2217://" + shownHost + ":" + std::to_string(listener.port()));
    sim::serveRfc2217(instrument, listener, hooks);
  }
  instrument.saveState();
  std::printf("%s", instrument.report().c_str());
  sim::uninstallClock();
  return kExitOk;
}
