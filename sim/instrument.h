// The simulated ZEL instrument together with its end of the RS-232 line.
//
// It is written from the instrument's side of every exchange: the text commands of its
// remote interface in normal mode; in update mode the boot ROM that takes a bootstrap
// loader at 19200 baud with even parity, the loader that switches the line to its own
// speed and takes the transfer program, and the transfer program that speaks the packet
// protocol (acknowledgement, byte echo) and programs the flash banks and the DSP module.
//
// Time. Every byte takes its real time on the line (start + data + parity + stop bits at
// the baud rate), in both directions. Nothing runs on its own: every call of the host's
// end first brings the simulation up to the program clock (platform::clock()), and a host
// that waits for a byte sleeps the clock to the byte's arrival. With a VirtualClock the
// whole exchange therefore runs as fast as the CPU allows and the same way every time.
//
// The line. The two ends understand each other only when baud rate, data bits and parity
// agree (stop bits never matter); otherwise the receiving end samples garbage from the wave
// form (sim/line.h), in both directions. Garbage in a command line makes the instrument
// queue an "Undefined header" error once a line feed ends that line. The host's adapter may
// hold received bytes for its latency time before it hands them on. The instrument drives CTS and
// DSR: both on in normal mode, CTS off and DSR on in update mode, both off while it boots or when
// the line is dead.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "serial/serial_device.h"
#include "sim/flash_bank.h"
#include "sim/line.h"
#include "sim/options.h"
#include "sim/random.h"

namespace sim {

// Timing of the instrument's side (the line's own timing follows from the framing).
// After a request packet is complete the target starts its acknowledgement this much later.
inline constexpr Nanos kPacketTurnaroundNs = 100 * 1000;
// Programming one byte of one chip; the chips of a bank program in parallel.
inline constexpr Nanos kProgramNsPerByte = 10 * 1000;
// Adding up flash contents for the checksum command.
inline constexpr Nanos kChecksumNsPerByte = 1000;
// The DSP module's erase, whatever its outcome.
inline constexpr Nanos kDspEraseNs = 5000 * kNanosPerMs;
inline constexpr Nanos kDspWriteNsPerWord = 20 * 1000;
inline constexpr Nanos kDspChecksumNs = 50 * kNanosPerMs;
// The target gives up on a byte whose echo has not come back within this time.
inline constexpr Nanos kEchoTimeoutNs = 2000 * kNanosPerMs;
// Partly received packets and downloads are dropped after this much silence.
inline constexpr Nanos kReceiveSilenceNs = 1000 * kNanosPerMs;
// Delay before the instrument answers a text query, and before a status letter.
inline constexpr Nanos kTextAnswerDelayNs = 2 * kNanosPerMs;
inline constexpr Nanos kStatusLetterDelayNs = 1 * kNanosPerMs;
// The driver's output queue of the host's port; a longer write waits for room.
inline constexpr uint32_t kHostOutputQueueBytes = 5072;
inline constexpr uint32_t kHostInputQueueBytes = 32000;
// The boot ROM and the loader work at these settings.
inline constexpr uint32_t kBootRomBaud = 19200;
inline constexpr uint32_t kLoaderClockBaud = 115200;  // divided by the loader's divisor
// Largest transfer program the target's RAM takes.
inline constexpr uint32_t kTransferProgramMaxBytes = 0x10000;
// Words of the DSP module's flash.
inline constexpr uint32_t kDspFlashWords = 0x20000;

// Status words of the DSP module's answers (0 = success).
inline constexpr uint32_t kDspStatusOk = 0;
inline constexpr uint32_t kDspStatusNoModule = 1;  // no module, or the B1 module unpowered
inline constexpr uint32_t kDspStatusEraseFailed = 2;
inline constexpr uint32_t kDspStatusTooLarge = 3;   // more words than the module's flash
inline constexpr uint32_t kDspStatusNotErased = 4;  // data beyond the erased area
inline constexpr uint32_t kDspStatusBadCount = 5;   // word count outside 1 to 60

// Error bytes of the error answer 0x20 xx.
inline constexpr uint8_t kErrorChecksum = 0xF0;  // request checksum wrong
inline constexpr uint8_t kErrorUnknownCommand = 0xF1;
inline constexpr uint8_t kErrorBadRequest = 0xF2;  // wrong size or parameter
inline constexpr uint8_t kErrorAddress = 0xF3;     // region outside the flash banks
inline constexpr uint8_t kErrorBusy = 0xF4;        // busy, or not ready for the data

enum class Mode {
  Normal,           // text commands at its own serial settings
  Booting,          // restarting; deaf and mute
  BootRom,          // update mode: waits for the bootstrap loader
  LoaderWaitStart,  // loader accepted, waits for the host's "S"
  Loader,           // loader runs at its speed, waits for the transfer program
  TransferProgram,  // packet protocol
};
const char* modeName(Mode mode);

// The instrument's own RS-232 settings (remote interface menu).
struct SerialSettings {
  uint32_t baud = 9600;
  uint8_t bits = 8;
  SerialParity parity = SerialParity::None;
  uint8_t stopBits = 1;
  Pace pace = Pace::None;
};

struct Counters {
  uint32_t textCommands = 0;     // command lines taken in normal mode
  uint32_t garbledBytes = 0;     // bytes that arrived at other line settings
  uint32_t loaderDownloads = 0;  // bootstrap loaders received (accepted or not)
  uint32_t transferDownloads = 0;
  uint32_t requestPackets = 0;  // request packets with a correct checksum
  uint32_t badChecksumPackets = 0;
  uint32_t droppedPackets = 0;  // incomplete requests dropped after silence
  uint32_t answerPackets = 0;   // packets sent, acknowledgements included
  uint32_t programPackets = 0;  // program-data requests
  uint32_t echoErrors = 0;      // echoes that came back wrong
  uint32_t echoTimeouts = 0;    // echoes that did not come back
  uint32_t cmosRamDeletes = 0;
  uint32_t boots = 0;
  uint32_t powerCycles = 0;
};

struct DspModule {
  bool prepared = false;        // the transfer program has switched it on (0x28)
  std::vector<uint32_t> flash;  // kDspFlashWords once used
  uint32_t erasedWords = 0;     // size of the image area of the last erase
  uint32_t writtenWords = 0;    // next word that a data packet fills
};

class Instrument {
 public:
  explicit Instrument(const Options& options);

  // --- The host's end of the line (sim/instrument_line.cpp) ---------------------------
  // The serial device forwards to these. Only one host end can be open at a time.
  bool hostOpen();
  void hostClose();
  bool hostIsOpen() const { return m_hostOpen; }
  const serial::LineSettings& hostSettings() const { return m_hostSettings; }
  void hostSetSettings(const serial::LineSettings& settings);
  void hostPurge(bool input, bool output);
  serial::ReadResult hostReadByte(uint8_t& byte);
  // For a host end that runs in real time beside the instrument (a line server): takes a
  // byte that the host's adapter has handed on by now, without waiting.
  bool hostTakeByte(uint8_t& byte);
  // Program-clock microseconds until the next thing happens on the line, in the instrument
  // or at the host's end (a byte handed on, a time-out, the end of a boot); UINT64_MAX when
  // nothing will without the host.
  uint64_t hostMicrosUntilNextEvent();
  bool hostWrite(const uint8_t* data, uint32_t size, uint32_t& written);
  void hostDrain();
  bool hostOutputHeld();
  void hostModemStatus(bool& cts, bool& dsr);
  void hostSetRts(bool on) { m_hostRts = on; }
  void hostSetDtr(bool on) { m_hostDtr = on; }

  // --- The simulated operator (sim/instrument_operator.cpp) --------------------------
  // Carries out the front-panel steps that a message box of the manual workflow asks
  // for, once the box is acknowledged: PRESET / SERVICE / FIRMWARE UPDATE puts the
  // instrument into update mode; SETUP / REMOTE / RS232 with the listed values sets its
  // serial settings; "Wait until ... booted" waits (on the program clock) until it has
  // booted. Returns true when the box asked for something the operator did.
  bool operatorAcknowledged(const std::string& messageBoxText);

  // --- Inspection ---------------------------------------------------------------------
  // Brings the simulation up to the program clock.
  void advance();
  Mode mode() const { return m_mode; }
  // The flash bytes of `lengthBytes` bytes from a target address; empty when the range is
  // not inside one bank.
  std::vector<uint8_t> flashBytes(uint32_t address, uint32_t lengthBytes) const;
  const FlashBank* bankAt(uint32_t address) const;
  // The DSP module's image area: the words of the last erase's size.
  std::vector<uint32_t> dspImage() const;
  // What the instrument currently reports.
  uint32_t hwInfo() const;
  const std::string& version() const;
  // Whether the board carries the memory extension (by the hardware word or the board
  // number); it decides the board's flash.
  bool memoryExtension() const;
  // Whether the DSP module answers: it is fitted, and a B1 module is powered (by QAM mode,
  // or by the transfer program's prepare command).
  bool dspAvailable() const;
  bool dspFitted() const;
  // A few lines on what happened: counters and faults fired.
  std::string report() const;
  // What it is doing, in a few words ("running firmware 04.41", "in update mode, waiting for
  // the bootstrap loader", "in its transfer program").
  std::string stateText() const;

  // --- Power ---------------------------------------------------------------------------
  // Switches it off and on: whatever ran stops; it starts its firmware, or, when the firmware
  // is not valid (an update erased it and did not end), waits in update mode for the
  // bootstrap loader and answers no text command. The line keeps a fault that killed it.
  void powerCycle();

  Options options;
  SerialSettings serial;
  Counters counters;
  // Faults that took effect, by name, with how often.
  std::map<std::string, uint32_t> faultsFired;
  std::vector<FlashBank> banks;
  DspModule dsp;
  std::deque<std::string> errorQueue;
  bool qamMode = false;           // SYST:MODE QAM given since the last start
  bool bootedFromUpdate = false;  // reports version-after / hw-after
  bool programmingPower = false;
  bool transferProgramEnded = false;  // 0x49 received
  uint32_t addressUnit = 1;           // bytes per target address (4 after a word-addressed loader)
  uint32_t linkBaud = kBootRomBaud;   // speed of the loader and the transfer program
  bool lineDead = false;              // after unplug=N
  // Limits that the host must meet, the target's echo deadline and the silence after which
  // it drops a partial packet, are stretched by this factor: a host that runs in real time
  // beside an instrument on a faster clock (`simulate` with speed=N) meets them as a host
  // meets them at real speed.
  double hostTimeFactor = 1;
  // The firmware's valid mark: cleared by the first erase of the processor flash, set again
  // when an update ends with its checksum and the boot. Kept in the state folder.
  bool firmwareValid = true;
  // Target addresses of the bytes that fault flash-corrupt changed, in order.
  std::vector<uint32_t> corruptedAddresses;

  // --- Kept state (sim/instrument_state.cpp) ------------------------------------------
  // With a state folder: what the instrument holds is read from it at power-on and written
  // to it whenever the host closes the line and after every boot. The texts of the
  // folder's "state" file; empty text: nothing read.
  std::string stateError;
  void saveState();

 private:
  // A byte in the host's input, readable from `readyAt` on (the adapter's latency).
  struct Received {
    uint8_t byte;
    Nanos readyAt;
  };
  struct Outgoing {
    Nanos readyAt;
    std::vector<uint8_t> bytes;
    bool echoed;       // packet protocol: each byte waits for the echo of the one before
    bool rebootAfter;  // the boot command: restart once this has gone out
  };

  // Time.
  Nanos now();
  void advanceTo(Nanos t);
  void sleepUntil(Nanos t);
  Nanos nextTimer() const;
  void fireTimers();

  // Line (sim/instrument_line.cpp).
  Framing instrumentFraming() const;
  Framing hostFraming() const;
  bool countLineByte();
  // packetByte: a byte of the packet protocol, where noise-back strikes.
  void transmit(uint8_t byte, bool packetByte);
  void deliverToHost(const Character& character);
  void receive(const Character& character);
  // Earliest time at which something happens on the line or in the instrument.
  Nanos nextEvent() const;
  void queueOutput(Nanos readyAt, std::vector<uint8_t> bytes, bool echoed,
                   bool rebootAfter = false);
  void sendPending();
  void fire(const char* fault);

  // Modes.
  void enterUpdateMode();
  void startBoot();
  void finishBoot();
  void resetReceivers();

  // Normal mode (sim/instrument_text.cpp).
  // `garbage`: a byte the UART flagged (parity error) or that no command holds.
  void receiveText(uint8_t byte, bool garbage);
  void executeLine(const std::string& line);
  void executeCommand(const std::string& command);
  void pushError(const char* entry);
  void answer(const std::string& text);
  bool applySetting(const std::string& what, const std::string& value);

  // Update mode: boot ROM, loader and packet protocol (sim/instrument_target.cpp).
  void receiveBootRom(uint8_t byte);
  void receiveLoader(uint8_t byte);
  void receivePacketByte(uint8_t byte);
  void takeEcho(uint8_t byte);
  // Gives up the rest of the packet being sent (a wrong or missing echo).
  void abandonPacket();
  void handleRequest(const std::vector<uint8_t>& data);
  void queuePacket(Nanos readyAt, const std::vector<uint8_t>& data, bool rebootAfter = false);
  void queueErrorAnswer(Nanos readyAt, uint8_t error);
  // The flash commands and the flash of the board (sim/instrument_flash.cpp).
  void commandEpromType(const std::vector<uint8_t>& data, Nanos readyAt);
  void commandUpload(const std::vector<uint8_t>& data, Nanos readyAt);
  void commandProgram(const std::vector<uint8_t>& data, Nanos readyAt);
  void commandChecksum(const std::vector<uint8_t>& data, Nanos readyAt);
  void commandErase(const std::vector<uint8_t>& data, Nanos readyAt);
  FlashBank* bankHolding(uint32_t address);
  uint64_t oldContentsSeed(uint32_t start) const;
  // flash=any: the board's own bank, when it holds the address and no named bank overlaps.
  void addBoardBank(uint32_t address);
  // flash=board: lays out the flash that the hardware word (or board number) says.
  void installBoardFlash();
  // The error byte for a flash request on `lengthBytes` bytes from `address` with this bus
  // width and (when not 0) chip type; 0 when the flash there takes it. `bank` is the bank.
  // needsPower: a request that identifies, erases or programs chips, refused as busy
  // without programming voltage.
  uint8_t checkFlashRequest(uint8_t busWidth, uint8_t chipType, uint32_t address,
                            uint64_t lengthBytes, bool needsPower, FlashBank*& bank);
  // The chip type that the chips of a bank identify as (the chips option changes what they
  // report); nullptr when the codes are of no known type.
  const ChipType* identifiedType(const FlashBank& bank) const;
  // The DSP module's commands (sim/instrument_dsp.cpp).
  void commandDsp(const std::vector<uint8_t>& data, Nanos readyAt);

  // Host end.
  bool m_hostOpen = false;
  serial::LineSettings m_hostSettings{};
  bool m_hostRts = false;
  bool m_hostDtr = false;
  std::deque<Received> m_hostInput;
  Nanos m_latencyFlushAt = 0;  // the adapter hands on what it holds at this time
  Nanos m_hostTxFreeAt = 0;

  // Line and clock.
  Nanos m_now = 0;        // the simulation has run up to here (a waiting read looks ahead)
  Nanos m_lastClock = 0;  // the program clock as last read, in simulation time
  int64_t m_clockOffset = 0;
  bool m_clockSeen = false;
  LineDirection m_toInstrument;
  LineDirection m_toHost;
  Nanos m_txFreeAt = 0;
  uint64_t m_lineBytes = 0;

  // Instrument state.
  Mode m_mode = Mode::Normal;
  Nanos m_bootDoneAt = 0;
  std::string m_textLine;
  bool m_textLineTooLong = false;
  bool m_textLineGarbled = false;
  std::vector<uint8_t> m_rx;  // boot ROM, loader and request receive buffer
  size_t m_rxExpected = 0;
  bool m_rxDiscard = false;  // loader: ignore bytes until silence
  Nanos m_rxSilenceAt = 0;   // 0: nothing partly received
  std::deque<Outgoing> m_outbox;
  size_t m_outIndex = 0;
  bool m_awaitingEcho = false;
  uint8_t m_expectedEcho = 0;
  Nanos m_echoDeadline = 0;
  uint32_t m_nacksGiven = 0;

  // What it reports: from the options, then from the kept state, then after each boot from
  // the -after options (with a state folder: the version the booted firmware reported before).
  std::string m_version;
  uint32_t m_hw = 0;
  // Firmware seen running, by a digest of the flash: the version it reported.
  std::map<uint64_t, std::string> m_firmwareVersions;
  bool m_corruptedThisUpdate = false;  // flash-corrupt strikes once after each erase
  bool m_checksumSinceErase = false;   // a checksum was taken after the flash was erased
  // The start of the firmware after power-on or a boot: its own, or the boot block's update
  // mode when the firmware is not valid.
  void startFirmware();
  // True when a kept state was read.
  bool loadState();
  uint64_t flashDigest() const;
  void bootedFirmware();
  // flash-corrupt: changes two of the count bytes just programmed at a byte offset so that
  // their sum stays the same.
  void corruptProgrammed(FlashBank& bank, uint32_t offset, uint32_t count);

  // Fault streams, one per fault so that they do not disturb each other.
  Random m_noiseRandom;
  Random m_noiseBackRandom;
  Random m_dropRandom;
  Random m_addressRandom;
};

}  // namespace sim
