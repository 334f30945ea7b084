// CZel: the session with one ZEL instrument over RS-232.
//
// It owns the serial port, keeps the port number in the settings file, sends the
// instrument's line-oriented text commands ("...\r\n"; a command with "?" is answered by
// one line ended by a line feed), finds the instrument's serial parameters by probing,
// moves both ends of the line to new parameters, identifies the instrument, reads its
// hardware word, switches it into update mode and hands the port to the flash engine.
//
// Results follow each operation (see the comments); nothing throws. Every operation writes
// trace records as "CZel" except the settings-file and parameter-copy ones, getIdnString,
// the three serial-setting exchanges (get/set/setDefaultRs232Parameter, whose commands
// show in the records of queryCommand and of the port) and powerOnDspB1.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "dsp/option_kinds.h"
#include "flash/config/config_writer.h"
#include "flash/processor_update.h"
#include "serial/comm.h"
#include "trace/trace.h"

// Capacity of the instrument's serial-setting texts (characters, without the NUL).
inline constexpr uint32_t kZelSettingTextCapacity = 99;
// Capacity of an answer line (characters, without the NUL).
inline constexpr uint32_t kZelAnswerCapacity = 127;

// Settings file entry that holds the port number.
inline constexpr const char* kZelSettingsSection = "DEVICE";
inline constexpr const char* kZelSettingsPortKey = "PORT_NO";

// Instrument commands and their pauses.
inline constexpr const char* kCmdSystErrProbe = "\r\nSYST:ERR?\r\n";
inline constexpr const char* kCmdSystErr = "SYST:ERR?\r\n";
inline constexpr const char* kCmdIdn = "*IDN?\r\n";
inline constexpr const char* kCmdReadInfoData = "READ:INFO:DATA?\r\n";
inline constexpr const char* kCmdBoardInfo = "SYSTEM:SERVICE:GET:BOARD:INFO?\r\n";
inline constexpr const char* kCmdUpdateMode = "SENSE:SWUP\r\n";
inline constexpr const char* kCmdQamMode = "\r\n\r\nSYST:MODE QAM\r\n";

inline constexpr uint32_t kLineFeedPauseMs = 25;
inline constexpr uint32_t kSettingQueryPauseMs = 400;
inline constexpr uint32_t kDefaultSettingPauseMs = 200;
inline constexpr uint32_t kUpdateModeRetestMs = 500;
inline constexpr uint32_t kDspPowerOnWaitMs = 5000;
inline constexpr int32_t kRawBlockReadTimeoutMs = 2000;
inline constexpr int32_t kSessionReadTimeoutMs = 5000;
inline constexpr int32_t kLineFeed = 10;
inline constexpr int32_t kProbeHandshake = 4;  // DTR/DSR, XON/XOFF on output
// Error queries per getDeviceAnswer call.
inline constexpr int32_t kMaxErrorQueries = 10;
// Shortest pass of getDeviceAnswer: a query that fails at once (a broken line) is not
// repeated faster than this.
inline constexpr uint32_t kMinDeviceAnswerPassMs = 100;

// Programming configuration file that both update sequences read.
inline constexpr const char* kProgrammingConfigFile = kConfigReadName;

class CZel {
 public:
  CZel();
  // Releases the members; does not close the port (the main window closes it first).
  ~CZel() = default;
  CZel(const CZel&) = delete;
  CZel& operator=(const CZel&) = delete;

  TraceOwner m_trace{"CZel"};
  CComm m_comm;
  std::string m_iniFile;
  // The last answer to "*IDN?", kept even when it was rejected.
  std::string idnString;
  // PC port parameters saved by storePortParameter.
  int32_t m_savedBaudRate = 9600;
  int32_t m_savedParity = 0;
  int32_t m_savedHandshake = 0;
  int32_t m_savedDataBits = 8;
  int32_t m_savedStopBits = 0;
  uint32_t m_serialNo = 0xFFFFFFFFu;
  // major * 100 + minor (3.08 is 308); -1 until read.
  int32_t m_swVersion = -1;
  // Hardware information word; -1 until read.
  int32_t hwInfo = -1;
  // The board number of the board information; -1 until read.
  int64_t m_boardNumber = -1;
  // The instrument's own serial settings as it answers them.
  char m_baudText[kZelSettingTextCapacity + 1] = "9600";
  char m_parityText[kZelSettingTextCapacity + 1] = "NONE";
  char m_paceText[kZelSettingTextCapacity + 1] = "NONE";
  char m_dataBitsText[kZelSettingTextCapacity + 1] = "8";
  char m_stopBitsText[kZelSettingTextCapacity + 1] = "1";

  // --- settings file ---
  void setIniFile(const std::string& path);
  // Reads DEVICE/PORT_NO (the port's current number when missing) into the port number,
  // a value below 1 becoming 1. Returns the value as read.
  int32_t readSettings();
  // Writes the port number to DEVICE/PORT_NO. Nonzero when the file was written.
  int32_t writeSettings();

  // --- port ---
  // 0 success, 1 failure (a half-opened port is closed again).
  int32_t open();
  void close();
  // Copies the port's baud rate, parity, handshake, data bits and stop bits into the saved
  // set, and back (followed by open(), whose result it returns).
  void storePortParameter();
  int32_t restorePortParameter();
  void getIdnString(std::string& text) const;

  // --- commands ---
  // Upper-cases the command in place and sends it. On entry length is the capacity of
  // answer (which holds capacity + 1 bytes); on return the answer's length. A command
  // without "?" reads nothing; a "DUMP"/"READ" query without "COUNT" reads a raw block
  // (success even when nothing came); other queries read one text line. The answer is
  // NUL-terminated on success. Nonzero success, 0 failure (length 0).
  int32_t executeCommand(char* command, char* answer, uint32_t& length);
  // Sends the query as it stands and reads one text line of at most capacity characters
  // into answer (capacity + 1 bytes). Nonzero success; on failure the answer is empty.
  int32_t queryCommand(const char* query, char* answer, uint32_t& length, uint32_t capacity);
  // XON, then CR LF, with 25 ms pauses around them: ends whatever half command the
  // instrument may hold. Nonzero when the CR LF went out.
  int32_t writeLineFeedToTerminateLastCommand();
  // One entry of the error queue: number -1 and text "Error" unless scanned. Nonzero when
  // both the number and the text were scanned.
  int32_t rdSystErr(int32_t& number, std::string& text);
  // Probes the port's line parameters (30 combinations, handshake index 4) until the
  // instrument answers the error query. Nonzero when found (the port stays open there).
  int32_t autoConnect();
  // Reads the instrument's pace, baud, stop-bit, data-bit and parity settings as texts.
  // 0 success, 1 at the first query that fails.
  int32_t getRs232Parameter();
  // Sends the saved pace, parity and baud texts back, following each on the port.
  // 0 success, 1 at the first command that cannot be sent (or would not fit its buffer).
  int32_t setRs232Parameter();
  // Moves instrument and port to 9600 baud, 8 data bits, no parity, 1 stop bit, no
  // handshake, one setting at a time. 0 success, 1 at the first failing command.
  int32_t setDefaultRs232Parameter();

  // --- queries ---
  // Identification: maker, model ZEL or LUM, serial number and version. 0 success, 1 failure.
  int32_t readSwVersion();
  // Hardware information word, with the memory-extension bits from the board information
  // from version 4.90 on. 0 success, 1 failure.
  int32_t readHwInfo();
  // readSwVersion and readHwInfo; 0 when both succeeded, else 1.
  int32_t read_SwVersion();
  // Sends "SENSE:SWUP". 0 when sent, else 1.
  int32_t setUpdateModeOn();
  // 1 when the modem lines show update mode (CTS off, DSR on), tested twice 500 ms apart.
  int32_t isZelInUpdateMode();
  // Waits until the instrument answers "*IDN?" again (after a reboot), at most about
  // seconds. 0 answered, 1 not.
  int32_t getDeviceAnswer(int32_t seconds);
  // Switches the instrument to QAM mode, which powers the B1 DSP, with its own status
  // line and a 5 s pumped wait. 0 when the command was sent, else 1.
  int32_t powerOnDspB1();
  // Hands the open port to the processor firmware update (with the caller's read back and
  // backup, the read back's findings into *report); its result unchanged.
  int32_t startFlashUpdate(int32_t intermediateBoot, const ProcessorUpdateExtras& extras = {},
                           ReadBackReport* report = nullptr);
  // Hands the open port to the option update for option 1 (B1), 2 (B20) or 3 (B10); its
  // result unchanged.
  int32_t startFlashUpdate(int32_t optionNumber, int32_t intermediateBoot);

 private:
  // Sends one command exactly as it stands; false when the port does not send it.
  bool sendCommand(const char* command);
  // Sends a setting command built from a format and an instrument text; false when the
  // result would not fit the command buffer or the write fails.
  bool sendSetting(const char* format, const char* value);
  // Queries one setting text into field (capacity kZelSettingTextCapacity); the field
  // keeps its text when the query fails.
  bool querySetting(const char* query, char* field);
};
