#include "sim/options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <set>
#include <string_view>
#include <vector>

#include "platform/text_case.h"
#include "serial/port_names.h"

namespace sim {
namespace {

constexpr std::string_view kPrefix = serial::kSimulatedPortPrefix;
constexpr uint32_t kBaudRates[] = {300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
constexpr double kMaxBootTimeSeconds = 3600;
constexpr uint64_t kMaxLatencyMs = 1000;

std::vector<std::string_view> split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  size_t begin = 0;
  for (;;) {
    const size_t end = text.find(separator, begin);
    parts.push_back(text.substr(begin, end == std::string_view::npos ? end : end - begin));
    if (end == std::string_view::npos) return parts;
    begin = end + 1;
  }
}

std::string upper(std::string_view text) {
  std::string result(text);
  for (char& c : result) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return result;
}

// Decimal, or hexadecimal after "0x"; the whole text must be the number.
bool parseUnsigned(std::string_view text, uint64_t max, uint64_t& value) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return false;
  uint64_t result = 0;
  for (char c : text) {
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (base == 16 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    if (digit < 0) return false;
    if (result > (max - static_cast<uint64_t>(digit)) / static_cast<uint64_t>(base)) return false;
    result = result * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
  }
  value = result;
  return true;
}

bool parseDecimal(std::string_view text, double& value) {
  if (text.empty()) return false;
  const std::string copy(text);
  char* end = nullptr;
  errno = 0;
  const double result = std::strtod(copy.c_str(), &end);
  if (errno != 0 || end != copy.c_str() + copy.size() || !std::isfinite(result)) return false;
  value = result;
  return true;
}

std::string badValue(std::string_view key, std::string_view value, const char* expected) {
  return "sim port: bad value \"" + std::string(value) + "\" for " + std::string(key) + " (" +
         expected + ")";
}

// The faults, by the kind of value they take. The message about an unknown fault is made
// from these tables, so that it names every fault there is.
struct FlagFault {
  const char* name;
  bool Faults::*member;
};
constexpr FlagFault kFlagFaults[] = {
    {"silent", &Faults::silent},
    {"no-ready", &Faults::noReady},
    {"loader-reject", &Faults::loaderReject},
    {"erase-fail", &Faults::eraseFail},
    {"program-fail", &Faults::programFail},
    {"checksum-off", &Faults::checksumOff},
    {"dsp-erase-fail", &Faults::dspEraseFail},
    {"dsp-checksum-off", &Faults::dspChecksumOff},
    {"flash-corrupt", &Faults::flashCorrupt},
};
struct ProbabilityFault {
  const char* name;
  double Faults::*member;
};
constexpr ProbabilityFault kProbabilityFaults[] = {
    {"noise", &Faults::noise},
    {"noise-back", &Faults::noiseBack},
    {"drop", &Faults::drop},
};
struct CountFault {
  const char* name;
  uint64_t max;
  const char* expected;
  void (*set)(Faults&, uint64_t);
};
constexpr CountFault kCountFaults[] = {
    {"nack", UINT32_MAX, "a number of packets, e.g. nack=3",
     [](Faults& faults, uint64_t count) { faults.nack = static_cast<uint32_t>(count); }},
    {"unplug", UINT64_MAX, "a number of bytes, e.g. unplug=1000",
     [](Faults& faults, uint64_t count) { faults.unplug = count; }},
};

std::string knownFaults() {
  std::string names;
  const auto add = [&names](const char* name, const char* value) {
    names += (names.empty() ? "" : ", ") + std::string(name) + value;
  };
  for (const FlagFault& fault : kFlagFaults) add(fault.name, "");
  for (const ProbabilityFault& fault : kProbabilityFaults) add(fault.name, "=P");
  for (const CountFault& fault : kCountFaults) add(fault.name, "=N");
  return names;
}

// One fault of the "+" list: NAME or NAME=VALUE.
std::string parseFault(std::string_view item, Faults& faults) {
  const size_t equals = item.find('=');
  const std::string_view name = item.substr(0, equals);
  const bool hasArgument = equals != std::string_view::npos;
  const std::string_view argument = hasArgument ? item.substr(equals + 1) : std::string_view();
  for (const FlagFault& fault : kFlagFaults) {
    if (name != fault.name) continue;
    if (hasArgument) return "sim port: fault \"" + std::string(name) + "\" takes no value";
    faults.*fault.member = true;
    return {};
  }
  for (const ProbabilityFault& fault : kProbabilityFaults) {
    if (name != fault.name) continue;
    double p = 0;
    if (!parseDecimal(argument, p) || p < 0 || p > 1) {
      return badValue(std::string("fault ") + fault.name, argument,
                      "a probability from 0 to 1, e.g. noise=0.01");
    }
    faults.*fault.member = p;
    return {};
  }
  for (const CountFault& fault : kCountFaults) {
    if (name != fault.name) continue;
    uint64_t count = 0;
    if (!parseUnsigned(argument, fault.max, count)) {
      return badValue(std::string("fault ") + fault.name, argument, fault.expected);
    }
    fault.set(faults, count);
    return {};
  }
  return "sim port: unknown fault \"" + std::string(name) + "\" (known: " + knownFaults() + ")";
}

std::string parseFaults(std::string_view value, Faults& faults) {
  if (value.empty()) return badValue("fault", value, "fault names joined by +");
  for (std::string_view item : split(value, '+')) {
    if (std::string error = parseFault(item, faults); !error.empty()) return error;
  }
  return {};
}

// A text field of the identification: it must not be empty; commas cannot occur (they
// separate the options).
std::string parseText(std::string_view key, std::string_view value, std::string& field) {
  if (value.empty()) return badValue(key, value, "a text that is not empty");
  // The instrument answers with it on the line: printable characters only.
  for (const char c : value) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) return badValue(key, value, "printable characters");
  }
  field = std::string(value);
  return {};
}

// An enum read by its name (any case): `names` in the order of the enum's values. False
// for any other text.
template <typename Enum, size_t N>
bool parseName(std::string_view value, const char* const (&names)[N], Enum& result) {
  const std::string text = upper(value);
  for (size_t i = 0; i < N; ++i) {
    if (text == names[i]) {
      result = static_cast<Enum>(i);
      return true;
    }
  }
  return false;
}

// A whole number up to max, decimal or 0x hex, into field as a Number.
template <typename Number, typename Field>
std::string parseNumber(std::string_view key, std::string_view value, uint64_t max,
                        const char* expected, Field& field) {
  uint64_t number = 0;
  if (!parseUnsigned(value, max, number)) return badValue(key, value, expected);
  field = static_cast<Number>(number);
  return {};
}

// The keys of a "sim:" port. Every key is read by its entry here, and the message about an
// unknown key names them all from this table.
struct Key {
  const char* name;
  std::string (*parse)(std::string_view key, std::string_view value, Options& options);
};
constexpr Key kKeys[] = {
    {"model", [](std::string_view key, std::string_view value,
                 Options& options) { return parseText(key, value, options.model); }},
    {"maker", [](std::string_view key, std::string_view value,
                 Options& options) { return parseText(key, value, options.maker); }},
    {"serial", [](std::string_view key, std::string_view value,
                  Options& options) { return parseText(key, value, options.serial); }},
    {"version", [](std::string_view key, std::string_view value,
                   Options& options) { return parseText(key, value, options.version); }},
    {"hw",
     [](std::string_view key, std::string_view value, Options& options) {
       return parseNumber<uint32_t>(key, value, UINT32_MAX, "a 32-bit number, decimal or 0x hex",
                                    options.hw);
     }},
    {"board",
     [](std::string_view key, std::string_view value, Options& options) {
       return parseNumber<int32_t>(key, value, INT32_MAX, "a number, decimal or 0x hex",
                                   options.board);
     }},
    {"hw-after",
     [](std::string_view key, std::string_view value, Options& options) {
       return parseNumber<uint32_t>(key, value, UINT32_MAX, "a 32-bit number, decimal or 0x hex",
                                    options.hwAfter);
     }},
    {"version-after",
     [](std::string_view key, std::string_view value, Options& options) {
       std::string text;
       std::string error = parseText(key, value, text);
       if (error.empty()) options.versionAfter = text;
       return error;
     }},
    {"baud",
     [](std::string_view key, std::string_view value, Options& options) {
       uint64_t number = 0;
       if (!parseUnsigned(value, UINT32_MAX, number) ||
           !isSupportedBaudRate(static_cast<uint32_t>(number))) {
         return badValue(key, value,
                         "300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600 or 115200");
       }
       options.baud = static_cast<uint32_t>(number);
       return std::string();
     }},
    {"bits",
     [](std::string_view key, std::string_view value, Options& options) {
       if (value != "7" && value != "8") return badValue(key, value, "7 or 8");
       options.bits = static_cast<uint8_t>(value[0] - '0');
       return std::string();
     }},
    {"parity",
     [](std::string_view key, std::string_view value, Options& options) {
       static constexpr const char* kNames[] = {"NONE", "ODD", "EVEN"};  // SerialParity
       if (!parseName(value, kNames, options.parity)) {
         return badValue(key, value, "NONE, ODD or EVEN");
       }
       return std::string();
     }},
    {"stop",
     [](std::string_view key, std::string_view value, Options& options) {
       if (value != "1" && value != "2") return badValue(key, value, "1 or 2");
       options.stopBits = static_cast<uint8_t>(value[0] - '0');
       return std::string();
     }},
    {"pace",
     [](std::string_view key, std::string_view value, Options& options) {
       static constexpr const char* kNames[] = {"NONE", "XON", "ACK"};  // Pace
       if (!parseName(value, kNames, options.pace)) return badValue(key, value, "NONE, XON or ACK");
       return std::string();
     }},
    {"chips",
     [](std::string_view key, std::string_view value, Options& options) {
       const size_t slash = value.find('/');
       uint64_t manufacturer = 0;
       uint64_t device = 0;
       if (slash == std::string_view::npos ||
           !parseUnsigned("0x" + std::string(value.substr(0, slash)), 0xFF, manufacturer) ||
           !parseUnsigned("0x" + std::string(value.substr(slash + 1)), 0xFF, device)) {
         return badValue(key, value, "manufacturer/device code in hex, e.g. 89/BD");
       }
       options.chipManufacturer = static_cast<uint8_t>(manufacturer);
       options.chipDevice = static_cast<uint8_t>(device);
       return std::string();
     }},
    {"flash",
     [](std::string_view key, std::string_view value, Options& options) {
       if (value == "board") {
         options.flash = FlashLayout::Board;
       } else if (value == "any") {
         options.flash = FlashLayout::Any;
       } else {
         return badValue(key, value, "board or any");
       }
       return std::string();
     }},
    {"latency",
     [](std::string_view key, std::string_view value, Options& options) {
       return parseNumber<uint32_t>(key, value, kMaxLatencyMs, "milliseconds from 0 to 1000",
                                    options.latencyMs);
     }},
    {"boot-time",
     [](std::string_view key, std::string_view value, Options& options) {
       double seconds = 0;
       if (!parseDecimal(value, seconds) || seconds < 0 || seconds > kMaxBootTimeSeconds) {
         return badValue(key, value, "seconds from 0 to 3600");
       }
       options.bootTimeSeconds = seconds;
       return std::string();
     }},
    {"resident",
     [](std::string_view key, std::string_view value, Options& options) {
       const std::optional<bool> yes = platform::parseYesNo(value);
       if (!yes) return badValue(key, value, "yes or no");
       options.resident = *yes;
       return std::string();
     }},
    {"speed",
     [](std::string_view key, std::string_view value, Options& options) {
       double factor = 0;
       if (value == "virtual") {
         options.speed = SpeedMode::Virtual;
       } else if (value == "real") {
         options.speed = SpeedMode::Real;
         options.speedFactor = 1;
       } else if (parseDecimal(value, factor) && factor > 0 && factor <= 1e6) {
         options.speed = SpeedMode::Factor;
         options.speedFactor = factor;
       } else {
         return badValue(key, value, "virtual, real or a factor N > 0");
       }
       return std::string();
     }},
    {"fault", [](std::string_view, std::string_view value,
                 Options& options) { return parseFaults(value, options.faults); }},
    {"seed",
     [](std::string_view key, std::string_view value, Options& options) {
       return parseNumber<uint64_t>(key, value, UINT64_MAX, "a number, decimal or 0x hex",
                                    options.seed);
     }},
    {"state", [](std::string_view key, std::string_view value,
                 Options& options) { return parseText(key, value, options.stateFolder); }},
};

std::string parseItem(std::string_view key, std::string_view value, Options& options) {
  for (const Key& known : kKeys) {
    if (key == known.name) return known.parse(key, value, options);
  }
  std::string names;
  for (const Key& known : kKeys) names += (names.empty() ? "" : ", ") + std::string(known.name);
  return "sim port: unknown option \"" + std::string(key) + "\" (known: " + names + ")";
}

}  // namespace

std::string parseOptions(const std::string& portName, Options& options) {
  options = Options{};
  std::string_view text = portName;
  if (text.starts_with(kPrefix)) text.remove_prefix(kPrefix.size());
  if (text.empty()) return {};

  std::set<std::string, std::less<>> seen;
  for (std::string_view item : split(text, ',')) {
    if (item.empty()) continue;  // "sim:" alone or a trailing comma
    const size_t equals = item.find('=');
    if (equals == std::string_view::npos) {
      return "sim port: option \"" + std::string(item) + "\" needs a value (KEY=VALUE)";
    }
    const std::string_view key = item.substr(0, equals);
    if (!seen.insert(std::string(key)).second) {
      return "sim port: option \"" + std::string(key) + "\" given twice";
    }
    std::string error = parseItem(key, item.substr(equals + 1), options);
    if (!error.empty()) return error;
  }
  return {};
}

const char* parityText(SerialParity parity) {
  switch (parity) {
    case SerialParity::Odd:
      return "ODD";
    case SerialParity::Even:
      return "EVEN";
    case SerialParity::None:
      break;
  }
  return "NONE";
}

const char* paceText(Pace pace) {
  switch (pace) {
    case Pace::Xon:
      return "XON";
    case Pace::Ack:
      return "ACK";
    case Pace::None:
      break;
  }
  return "NONE";
}

bool isSupportedBaudRate(uint32_t baud) {
  for (uint32_t rate : kBaudRates) {
    if (rate == baud) return true;
  }
  return false;
}

}  // namespace sim
