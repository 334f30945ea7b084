// Parsing of the instrument's answer lines. Every function is a pure function of its
// input: any length, any bytes (0x80-0xFF and NUL included) are read without running
// past the end of the text, and numbers that do not fit their field are never wrapped
// silently.
//
// The numeric fields follow the rules of the C library's scanf conversions that the
// instrument protocol was defined with: "%d" and "%lu" skip leading white space (blank,
// tab, line feed, vertical tab, form feed, carriage return), take an optional sign and
// then at least one decimal digit; literal characters of a pattern must match exactly.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace instrument {

// Manufacturer text that an accepted identification contains somewhere.
inline constexpr std::string_view kMakerText = "QUORIX&VANTEL,";
// Models the tool can update.
inline constexpr std::string_view kModelZel = "ZEL";
inline constexpr std::string_view kModelLum = "LUM";
// Marker in the board information after which the board number stands.
inline constexpr std::string_view kBoardInfoMarker = "0xE0:";
// Board numbers above this one carry the memory extension.
inline constexpr int64_t kLastBoardWithoutMemoryExtension = 3;
// Longest error text taken from an error-queue answer.
inline constexpr size_t kErrorTextMax = 255;

// One decimal number read like a scanf conversion. `digits` is false when no digit
// followed the optional blanks and sign; `value` then stays 0. Values beyond +-2^62
// saturate (every caller's field is far smaller, so saturation only ever means "too big").
struct DecimalScan {
  bool digits = false;
  int64_t value = 0;
  size_t end = 0;  // index just past the last character taken
};
DecimalScan scanDecimal(std::string_view text, size_t start = 0, bool skipBlanks = true);

// An entry of the error queue, scanned as "%d,%255[0-9A-Za-z ;\"]": a decimal number, a
// comma, and then up to 255 characters from the digits, letters, blank, semicolon and
// double quote. The text ends at the first other character and keeps its quotes.
struct ErrorQueueScan {
  bool numberScanned = false;
  bool textScanned = false;
  int32_t number = 0;  // saturated to the 32-bit range
  std::string text;
};
ErrorQueueScan scanErrorQueueAnswer(std::string_view answer);

// Serial number and version after the model field, scanned as "%lu,%d.%d".
struct VersionScan {
  int fieldsScanned = 0;  // 0 to 3: serial number, major, minor, in this order
  uint32_t serialNo = 0;  // a number beyond 32 bits reads as 0xFFFFFFFF
  int64_t major = 0;
  int64_t minor = 0;
};
VersionScan scanSerialAndVersion(std::string_view text);

enum class InstrumentModel { Unknown, Zel, Lum };

// The identification answer "MAKER,MODEL,SERIAL,MAJOR.MINOR...".
struct IdentificationScan {
  bool makerFound = false;                           // kMakerText anywhere in the answer
  bool modelFieldFound = false;                      // a first and a second comma
  InstrumentModel model = InstrumentModel::Unknown;  // only set when the maker was found
  VersionScan version;                               // only scanned when the model is known
  // The software version as major * 100 + minor; false when a field is missing or the
  // result does not fit a signed 32-bit number.
  bool swVersion(int32_t& value) const;
  bool accepted() const {
    int32_t ignored = 0;
    return model != InstrumentModel::Unknown && swVersion(ignored);
  }
};
IdentificationScan parseIdentification(std::string_view answer);

// The hardware information word: leading blanks and a sign allowed, the number ends at
// the first other character, no digits give 0. The word is 32 bits wide: decimal values
// from -2^31 to 2^32-1 give their 32-bit pattern; anything larger is not a hardware word
// and gives false.
bool parseHardwareWord(std::string_view answer, int32_t& word);

// The number right after "0xE0:" in the board information (blanks may precede it);
// false when the marker or the number is missing. The value saturates like scanDecimal.
bool parseBoardNumber(std::string_view answer, int64_t& number);

}  // namespace instrument
