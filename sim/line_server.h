// The host's end of a simulated instrument's line served to another program: as a terminal
// server (Telnet with the COM-PORT-OPTION, the way a network serial port is reached) or on a
// pseudo-terminal that the other program opens as a serial port. Both run in real time
// beside the instrument: bytes are handed on when the instrument's line delivers them, and
// what the client sends goes onto the line at the settings the client chose, so that a
// client at the wrong settings sees the garbage a real line gives it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/pseudo_terminal.h"
#include "serial/rfc2217/rfc2217_socket.h"
#include "sim/instrument.h"

namespace sim {

struct ServeHooks {
  // Asked between exchanges: true ends the serving.
  std::function<bool()> stopAsked;
  // One line of news for the user (a client came or left).
  std::function<void(const std::string&)> tell;
  // Called between exchanges, on the serving thread: where the user's requests to the
  // instrument (a power cycle) are carried out.
  std::function<void()> poll;
};

// Serves clients of the listener one at a time until stopAsked: each connection opens the
// host's end of the line and its end closes it (DTR drops), as a port opened and closed.
// A client that connects while another is served is told so and hung up on. The
// instrument stays the same across connections.
void serveRfc2217(Instrument& instrument, serial::rfc2217::Listener& listener,
                  const ServeHooks& hooks);

// Serves the pseudo-terminal until stopAsked: the host's end is open all the while (a
// pseudo-terminal has no modem lines, so no DTR tells when a program opens or closes it).
void servePseudoTerminal(Instrument& instrument, platform::PseudoTerminal& terminal,
                         const ServeHooks& hooks);

}  // namespace sim
