#include "sim/options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <set>
#include <string_view>
#include <vector>

namespace sim {
namespace {

constexpr std::string_view kPrefix = "sim:";
constexpr uint32_t kBaudRates[] = {300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
constexpr double kMaxBootTimeSeconds = 3600;
constexpr uint64_t kMaxLatencyMs = 1000;

const char* const kKnownKeys =
    "model, maker, serial, version, hw, board, hw-after, version-after, baud, bits, parity, "
    "stop, pace, chips, flash, latency, boot-time, resident, speed, fault, seed";

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

std::string parseFaults(std::string_view value, Faults& faults) {
  if (value.empty()) return badValue("fault", value, "fault names joined by +");
  for (std::string_view item : split(value, '+')) {
    const size_t equals = item.find('=');
    const std::string_view name = item.substr(0, equals);
    const std::string_view argument =
        equals == std::string_view::npos ? std::string_view() : item.substr(equals + 1);
    const bool hasArgument = equals != std::string_view::npos;

    struct Flag {
      const char* name;
      bool Faults::*member;
    };
    static constexpr Flag kFlags[] = {
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
    bool known = false;
    for (const Flag& flag : kFlags) {
      if (name != flag.name) continue;
      if (hasArgument) {
        return "sim port: fault \"" + std::string(name) + "\" takes no value";
      }
      faults.*flag.member = true;
      known = true;
    }
    if (known) continue;

    struct Probability {
      const char* name;
      double Faults::*member;
    };
    static constexpr Probability kProbabilities[] = {
        {"noise", &Faults::noise},
        {"noise-back", &Faults::noiseBack},
        {"drop", &Faults::drop},
    };
    for (const Probability& probability : kProbabilities) {
      if (name != probability.name) continue;
      double p = 0;
      if (!parseDecimal(argument, p) || p < 0 || p > 1) {
        return badValue(std::string("fault ") + probability.name, argument,
                        "a probability from 0 to 1, e.g. noise=0.01");
      }
      faults.*probability.member = p;
      known = true;
    }
    if (known) continue;

    uint64_t count = 0;
    if (name == "nack") {
      if (!parseUnsigned(argument, UINT32_MAX, count)) {
        return badValue("fault nack", argument, "a number of packets, e.g. nack=3");
      }
      faults.nack = static_cast<uint32_t>(count);
      continue;
    }
    if (name == "unplug") {
      if (!parseUnsigned(argument, UINT64_MAX, count)) {
        return badValue("fault unplug", argument, "a number of bytes, e.g. unplug=1000");
      }
      faults.unplug = count;
      continue;
    }
    return "sim port: unknown fault \"" + std::string(name) +
           "\" (known: silent, no-ready, loader-reject, erase-fail, program-fail, "
           "checksum-off, dsp-erase-fail, dsp-checksum-off, flash-corrupt, nack=N, noise=P, "
           "noise-back=P, "
           "drop=P, unplug=N)";
  }
  return {};
}

// A text field of the identification: it must not be empty; commas cannot occur (they
// separate the options).
std::string parseText(std::string_view key, std::string_view value, std::string& field) {
  if (value.empty()) return badValue(key, value, "a text that is not empty");
  field = std::string(value);
  return {};
}

std::string parseItem(std::string_view key, std::string_view value, Options& options) {
  uint64_t number = 0;
  double decimal = 0;
  if (key == "model") return parseText(key, value, options.model);
  if (key == "maker") return parseText(key, value, options.maker);
  if (key == "serial") return parseText(key, value, options.serial);
  if (key == "version") return parseText(key, value, options.version);
  if (key == "version-after") {
    std::string text;
    std::string error = parseText(key, value, text);
    if (error.empty()) options.versionAfter = text;
    return error;
  }
  if (key == "hw" || key == "hw-after") {
    if (!parseUnsigned(value, UINT32_MAX, number)) {
      return badValue(key, value, "a 32-bit number, decimal or 0x hex");
    }
    if (key == "hw") {
      options.hw = static_cast<uint32_t>(number);
    } else {
      options.hwAfter = static_cast<uint32_t>(number);
    }
    return {};
  }
  if (key == "board") {
    if (!parseUnsigned(value, INT32_MAX, number)) {
      return badValue(key, value, "a number, decimal or 0x hex");
    }
    options.board = static_cast<int32_t>(number);
    return {};
  }
  if (key == "baud") {
    if (!parseUnsigned(value, UINT32_MAX, number) ||
        !isSupportedBaudRate(static_cast<uint32_t>(number))) {
      return badValue(key, value,
                      "300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600 or 115200");
    }
    options.baud = static_cast<uint32_t>(number);
    return {};
  }
  if (key == "bits") {
    if (value != "7" && value != "8") return badValue(key, value, "7 or 8");
    options.bits = static_cast<uint8_t>(value[0] - '0');
    return {};
  }
  if (key == "stop") {
    if (value != "1" && value != "2") return badValue(key, value, "1 or 2");
    options.stopBits = static_cast<uint8_t>(value[0] - '0');
    return {};
  }
  if (key == "parity") {
    const std::string text = upper(value);
    if (text == "NONE") {
      options.parity = SerialParity::None;
    } else if (text == "ODD") {
      options.parity = SerialParity::Odd;
    } else if (text == "EVEN") {
      options.parity = SerialParity::Even;
    } else {
      return badValue(key, value, "NONE, ODD or EVEN");
    }
    return {};
  }
  if (key == "pace") {
    const std::string text = upper(value);
    if (text == "NONE") {
      options.pace = Pace::None;
    } else if (text == "XON") {
      options.pace = Pace::Xon;
    } else if (text == "ACK") {
      options.pace = Pace::Ack;
    } else {
      return badValue(key, value, "NONE, XON or ACK");
    }
    return {};
  }
  if (key == "chips") {
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
    return {};
  }
  if (key == "flash") {
    if (value == "board") {
      options.flash = FlashLayout::Board;
    } else if (value == "any") {
      options.flash = FlashLayout::Any;
    } else {
      return badValue(key, value, "board or any");
    }
    return {};
  }
  if (key == "latency") {
    if (!parseUnsigned(value, kMaxLatencyMs, number)) {
      return badValue(key, value, "milliseconds from 0 to 1000");
    }
    options.latencyMs = static_cast<uint32_t>(number);
    return {};
  }
  if (key == "boot-time") {
    if (!parseDecimal(value, decimal) || decimal < 0 || decimal > kMaxBootTimeSeconds) {
      return badValue(key, value, "seconds from 0 to 3600");
    }
    options.bootTimeSeconds = decimal;
    return {};
  }
  if (key == "resident") {
    const std::string text = upper(value);
    if (text != "YES" && text != "NO") return badValue(key, value, "yes or no");
    options.resident = text == "YES";
    return {};
  }
  if (key == "speed") {
    if (value == "virtual") {
      options.speed = SpeedMode::Virtual;
    } else if (value == "real") {
      options.speed = SpeedMode::Real;
      options.speedFactor = 1;
    } else if (parseDecimal(value, decimal) && decimal > 0 && decimal <= 1e6) {
      options.speed = SpeedMode::Factor;
      options.speedFactor = decimal;
    } else {
      return badValue(key, value, "virtual, real or a factor N > 0");
    }
    return {};
  }
  if (key == "fault") return parseFaults(value, options.faults);
  if (key == "state") return parseText(key, value, options.stateFolder);
  if (key == "seed") {
    if (!parseUnsigned(value, UINT64_MAX, number)) {
      return badValue(key, value, "a number, decimal or 0x hex");
    }
    options.seed = number;
    return {};
  }
  return "sim port: unknown option \"" + std::string(key) + "\" (known: " + kKnownKeys + ")";
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
