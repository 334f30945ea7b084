// The prefixes that tell a port name's kind before any backend is asked: "sim:..." is a
// simulated instrument's line, "rfc2217://HOST:PORT" a serial port of a terminal server.
// Every other name is a COM number or a local device path. A network name is read here
// too, so that a name can be checked without its backend.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace serial {

inline constexpr const char* kSimulatedPortPrefix = "sim:";
inline constexpr const char* kNetworkPortPrefix = "rfc2217://";

inline bool isSimulatedPortName(std::string_view name) {
  return name.starts_with(kSimulatedPortPrefix);
}

inline bool isNetworkPortName(std::string_view name) {
  return name.starts_with(kNetworkPortPrefix);
}

// Host and port of "rfc2217://HOST:PORT" ("[::1]:2001" for an IPv6 address). False when the
// name is not of that form or the port is not a number from 1 to 65535.
inline bool parseNetworkPortName(const std::string& deviceName, std::string& host, uint16_t& port) {
  if (!isNetworkPortName(deviceName)) return false;
  const std::string rest = deviceName.substr(std::string_view(kNetworkPortPrefix).size());
  size_t colon;
  if (!rest.empty() && rest[0] == '[') {
    const size_t close = rest.find(']');
    if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ':')
      return false;
    host = rest.substr(1, close - 1);
    colon = close + 1;
  } else {
    colon = rest.rfind(':');
    if (colon == std::string::npos) return false;
    host = rest.substr(0, colon);
    if (host.find(':') != std::string::npos) return false;  // IPv6 needs brackets
  }
  const std::string digits = rest.substr(colon + 1);
  if (host.empty() || digits.empty() || digits.size() > 5) return false;
  uint32_t number = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    number = number * 10 + static_cast<uint32_t>(c - '0');
  }
  if (number == 0 || number > 65535) return false;
  port = static_cast<uint16_t>(number);
  return true;
}

}  // namespace serial
