// The options of a simulated instrument, read from its port name: "sim:" followed by
// comma-separated KEY=VALUE items, all optional ("sim:hw=0x11020,board=4,fault=nack=2").
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace sim {

enum class SerialParity : uint8_t { None, Odd, Even };
enum class Pace : uint8_t { None, Xon, Ack };
enum class SpeedMode : uint8_t { Virtual, Real, Factor };
// Where the flash is: that of the board's hardware, or a bank wherever a job names one.
enum class FlashLayout : uint8_t { Board, Any };

// The faults of the "fault" option, each one deterministic for a given seed.
struct Faults {
  bool silent = false;             // the instrument never sends anything
  bool noReady = false;            // update mode never shows on the modem lines
  bool loaderReject = false;       // the boot ROM answers "C" to every loader
  bool eraseFail = false;          // every flash erase fails at an address of its area
  bool programFail = false;        // every program-data packet fails at an address
  bool checksumOff = false;        // the flash checksum differs from the bytes
  bool dspEraseFail = false;       // the DSP module reports a failed erase
  bool dspChecksumOff = false;     // the DSP checksum differs from the words
  bool flashCorrupt = false;       // two programmed bytes change, their sum stays the same
  uint32_t nack = 0;               // error answer 0xF4 to the first N program-data packets
  double noise = 0;                // host bytes of the packet protocol arrive damaged
  double noiseBack = 0;            // target bytes of the packet protocol arrive damaged
  double drop = 0;                 // host bytes of the packet protocol are lost
  std::optional<uint64_t> unplug;  // the line goes dead after this many bytes
};

struct Options {
  std::string model = "ZEL";
  std::string maker = "QUORIX&VANTEL";
  std::string serial = "57";
  std::string version = "04.41";
  uint32_t hw = 0x10000;
  std::optional<int32_t> board;  // number after "0xE0:" in the board information
  std::optional<uint32_t> hwAfter;
  std::optional<std::string> versionAfter;
  // RS-232 settings at power-on.
  uint32_t baud = 9600;
  uint8_t bits = 8;
  SerialParity parity = SerialParity::None;
  uint8_t stopBits = 1;
  Pace pace = Pace::None;
  // Manufacturer / device code that every flash chip reports; absent: those of the chips
  // fitted (with flash=any: of the chip type the host asks for).
  std::optional<uint8_t> chipManufacturer;
  std::optional<uint8_t> chipDevice;
  FlashLayout flash = FlashLayout::Board;
  // How long the host's adapter holds received bytes before it hands them on.
  uint32_t latencyMs = 0;
  double bootTimeSeconds = 20;
  bool resident = false;
  SpeedMode speed = SpeedMode::Virtual;
  double speedFactor = 1;
  Faults faults;
  uint64_t seed = 1;
  // A folder that keeps flash, version, hardware word and serial settings across runs and
  // processes; empty: a new instrument per port opened.
  std::string stateFolder;
};

// Reads the options of a port name ("sim:..."; the text after the prefix is accepted as
// well). Returns an empty text on success, otherwise a message for the user that names the
// offending item; `options` then holds the defaults with the items read before it.
std::string parseOptions(const std::string& portName, Options& options);

// The texts the instrument uses for its settings ("NONE", "ODD", "EVEN"; "NONE", "XON",
// "ACK").
const char* parityText(SerialParity parity);
const char* paceText(Pace pace);

// Whether the instrument's serial interface offers this baud rate.
bool isSupportedBaudRate(uint32_t baud);

}  // namespace sim
