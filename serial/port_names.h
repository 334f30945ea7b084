// The prefixes that tell a port name's kind before any backend is asked: "sim:..." is a
// simulated instrument's line, "rfc2217://HOST:PORT" a serial port of a terminal server.
// Every other name is a COM number or a local device path.
#pragma once

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

}  // namespace serial
