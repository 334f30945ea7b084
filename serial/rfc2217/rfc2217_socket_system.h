// What each system's socket file (rfc2217_socket_posix.cpp, rfc2217_socket_windows.cpp) gives
// the part of the connection that is the same everywhere (rfc2217_socket_common.cpp): the
// calls on one socket. Included by those three files alone.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#endif

#include <cstdint>
#include <string>

namespace serial::rfc2217::system {

// Whether the system's network calls can be made (Winsock started; always on Linux).
bool networkStarted();
void closeHandle(intptr_t handle);

// How one address answered a connect.
enum class ConnectResult {
  Connected,
  Refused,
  NoAnswer,  // no answer within the wait, unreachable, or any other failure
  NoSocket,  // no socket for the address's family: the next address is tried
};
// A non-blocking connection to `address`, waiting up to waitMs for it; `handle` is set when
// Connected.
ConnectResult connectTo(const addrinfo& address, int waitMs, intptr_t& handle);
// A non-blocking socket bound to `address` and listening, with the port it got; -1 with
// `error` saying why when that fails.
intptr_t listenOn(const addrinfo& address, uint16_t& port, std::string& error);
// The message for a listening address that getaddrinfo refused with `code`.
std::string unknownAddressText(int code);

}  // namespace serial::rfc2217::system
