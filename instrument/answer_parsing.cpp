#include "instrument/answer_parsing.h"

#include <limits>

namespace instrument {
namespace {

constexpr int64_t kSaturation = int64_t{1} << 62;

// White space as the C library's isspace sees it in the "C" locale. Bytes 0x80-0xFF are
// not white space; they are compared as unsigned values, never handed to <cctype>.
bool isScanBlank(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isDigit(unsigned char c) {
  return c >= '0' && c <= '9';
}

// Members of the error text's character set: digits, letters, blank, ';' and '"'.
bool isErrorTextChar(unsigned char c) {
  return isDigit(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == ' ' || c == ';' ||
         c == '"';
}

int32_t saturateTo32(int64_t value) {
  if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(value);
}

}  // namespace

DecimalScan scanDecimal(std::string_view text, size_t start, bool skipBlanks) {
  DecimalScan scan;
  size_t i = start;
  if (skipBlanks)
    while (i < text.size() && isScanBlank(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  int64_t magnitude = 0;
  while (i < text.size() && isDigit(static_cast<unsigned char>(text[i]))) {
    const int digit = text[i] - '0';
    magnitude = magnitude > (kSaturation - digit) / 10 ? kSaturation : magnitude * 10 + digit;
    scan.digits = true;
    ++i;
  }
  if (!scan.digits) {
    scan.end = start;
    return scan;
  }
  scan.value = negative ? -magnitude : magnitude;
  scan.end = i;
  return scan;
}

ErrorQueueScan scanErrorQueueAnswer(std::string_view answer) {
  ErrorQueueScan scan;
  const DecimalScan number = scanDecimal(answer);
  if (!number.digits) return scan;
  scan.numberScanned = true;
  scan.number = saturateTo32(number.value);

  size_t i = number.end;
  if (i >= answer.size() || answer[i] != ',') return scan;
  ++i;
  const size_t first = i;
  while (i < answer.size() && i - first < kErrorTextMax &&
         isErrorTextChar(static_cast<unsigned char>(answer[i])))
    ++i;
  if (i == first) return scan;
  scan.textScanned = true;
  scan.text.assign(answer.substr(first, i - first));
  return scan;
}

VersionScan scanSerialAndVersion(std::string_view text) {
  VersionScan scan;
  // "%lu": a minus sign negates modulo 2^32 as strtoul does for a 32-bit long; a
  // magnitude beyond 32 bits reads as all bits set.
  const DecimalScan serial = scanDecimal(text);
  if (!serial.digits) return scan;
  const int64_t magnitude = serial.value < 0 ? -serial.value : serial.value;
  if (magnitude > int64_t{0xFFFFFFFF}) {
    scan.serialNo = 0xFFFFFFFFu;
  } else {
    const auto bits = static_cast<uint32_t>(magnitude);
    scan.serialNo = serial.value < 0 ? 0u - bits : bits;
  }
  scan.fieldsScanned = 1;

  size_t i = serial.end;
  if (i >= text.size() || text[i] != ',') return scan;
  const DecimalScan major = scanDecimal(text, i + 1);
  if (!major.digits) return scan;
  scan.major = major.value;
  scan.fieldsScanned = 2;

  i = major.end;
  if (i >= text.size() || text[i] != '.') return scan;
  const DecimalScan minor = scanDecimal(text, i + 1);
  if (!minor.digits) return scan;
  scan.minor = minor.value;
  scan.fieldsScanned = 3;
  return scan;
}

bool IdentificationScan::swVersion(int32_t& value) const {
  if (version.fieldsScanned < 3) return false;
  // Each field is below 2^62 in magnitude; the limits keep the product exact.
  constexpr int64_t kFieldLimit = int64_t{1} << 40;
  if (version.major > kFieldLimit || version.major < -kFieldLimit || version.minor > kFieldLimit ||
      version.minor < -kFieldLimit)
    return false;
  const int64_t combined = version.major * 100 + version.minor;
  if (combined > std::numeric_limits<int32_t>::max() ||
      combined < std::numeric_limits<int32_t>::min())
    return false;
  value = static_cast<int32_t>(combined);
  return true;
}

IdentificationScan parseIdentification(std::string_view answer) {
  IdentificationScan scan;
  scan.makerFound = answer.find(kMakerText) != std::string_view::npos;
  if (!scan.makerFound) return scan;

  const size_t firstComma = answer.find(',');
  if (firstComma == std::string_view::npos) return scan;
  const size_t secondComma = answer.find(',', firstComma + 1);
  if (secondComma == std::string_view::npos) return scan;
  scan.modelFieldFound = true;

  const std::string_view model = answer.substr(firstComma + 1, secondComma - firstComma - 1);
  if (model == kModelZel)
    scan.model = InstrumentModel::Zel;
  else if (model == kModelLum)
    scan.model = InstrumentModel::Lum;
  else
    return scan;

  scan.version = scanSerialAndVersion(answer.substr(secondComma + 1));
  return scan;
}

bool parseHardwareWord(std::string_view answer, int32_t& word) {
  const DecimalScan scan = scanDecimal(answer);
  if (scan.value > int64_t{0xFFFFFFFF} || scan.value < std::numeric_limits<int32_t>::min())
    return false;
  word = static_cast<int32_t>(static_cast<uint32_t>(scan.value));
  return true;
}

bool parseBoardNumber(std::string_view answer, int64_t& number) {
  const size_t marker = answer.find(kBoardInfoMarker);
  if (marker == std::string_view::npos) return false;
  const DecimalScan scan = scanDecimal(answer, marker + kBoardInfoMarker.size());
  if (!scan.digits) return false;
  number = scan.value;
  return true;
}

}  // namespace instrument
