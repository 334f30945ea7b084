// COM port numbers and the device behind each. On Linux COM1-COM4 are /dev/ttyS0-3,
// COM5-COM12 /dev/ttyUSB0-7, COM13-COM15 /dev/ttyACM0-2; on Windows COMn is the system's own
// port of that name (up to COM255). The PORTS section of the settings file (or the program
// itself) may map a number to another device ("COM7=/dev/ttyUSB3", "COM15=sim:hw=0x11000").
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace serial {

inline constexpr int kMaxComPort = 15;
// The highest COM number Windows gives a port, and so the highest any name or mapping takes.
inline constexpr int kHighestComNumber = 255;

// The device behind a COM number; empty for a number without one.
std::string comPortDevice(int portNo);
// Maps a number (1 to 255) to a device for the rest of the program; an empty name removes
// the mapping, so that the number has no device (not even its default one).
void setComPortDevice(int portNo, const std::string& device);
// Forgets every mapping made by setComPortDevice or a settings file: the defaults again.
void resetComPortMapping();
// Reads the PORTS section of a settings file into the mapping: keys "COM1" to "COM255"
// (any case), each with a device path or a "sim:" name; an empty value hides the number.
// Other keys are ignored. Entries not in the file keep their mapping.
void loadComPortMapping(const std::string& settingsFile);

// The spellings of a COM number that a name may use.
enum class ComNameForm {
  Any,       // "5", "com5", "COM5" or Windows' "\\.\COM5"
  Prefixed,  // "COM5" in any case: keys of [PORTS], the system's own port names
  Digits,    // "5" alone: a port that the command line took as a number
};
// The COM number (1 to 255) that a name of that form gives; 0 for any other name.
int comNumberOfName(std::string_view name, ComNameForm form = ComNameForm::Any);

// A port as the command line takes it (`run --port`, the ports of a fleet): a COM number 1
// to 15 in any form of comNumberOfName, or a higher one that the mapping leads to a device
// or that the system has a port for now (Windows), as its digits ("5"); a device path,
// "rfc2217://HOST:PORT" or "sim:..." as given. Empty for anything else. Load the settings
// file's mapping first.
std::string commandLinePort(const std::string& text);
// The rule that commandLinePort follows for numbers, for the message about a name it refused:
// "COM numbers are 1 to 15 unless [PORTS] of the settings file maps a higher one", on Windows
// with the present ports above 15 named.
std::string comNumberRule();

// The COM numbers above 15 that the port list shows besides 1 to 15: those the system has a
// port for now (Windows), ascending; none on Linux.
std::vector<int> presentHighComNumbers();

// The device that a port name reaches, for telling whether two names are one port: a COM
// number's device, a path with its links and "." and ".." resolved (as far as they exist);
// every other name as it is.
std::string resolvedPortDevice(const std::string& name);

// A port name or device path as a message shows it: platform::terminalText with "\x01"
// escapes.
std::string printablePortName(const std::string& name);

}  // namespace serial
