#include "flash/config/config_writer.h"

#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/host_files.h"
#include "platform/path_text.h"
#include "platform/whole_file.h"

namespace {

// The lines that differ between a board with and one without the memory extension.
struct BankLines {
  const char* memory;
  const char* erase;
  const char* programFormat;
};

constexpr BankLines kWithExtension = {"MEMORY = 0x50000,0x100000,AM29F040",
                                      "ERASE  = 0x50000,0xA0000", "PROGRAM = 0x50000, %s"};
constexpr BankLines kWithoutExtension = {"MEMORY = 0x80000,0x80000,I28F020",
                                         "ERASE  = 0x80000,0x80000", "PROGRAM = 0x80000, %s"};

constexpr const char* kAutomaticTransfer = "TRANSFER = ROMWRITE.TRA, 0x100, 0x100";
constexpr const char* kManualTransfer = "TRANSFER = ROMWRITE.TRA, 0x20000100, 0x20000100";

constexpr const char* kImageMpeg = "NO_MPEG.bin";
constexpr const char* kImageNicam = "NO_NICAM.bin";  // automatic generator
constexpr const char* kImageNica = "NO_NICA.bin";    // manual generator
constexpr const char* kImageQamB1 = "QAM_B1.bin";
constexpr const char* kImageAtsc = "NO_ATSC.bin";
constexpr const char* kImageDvbt = "NO_DVBT.bin";

// The sixteen lines, each ended by a line feed. Returns kConfigNotCreated when the file
// cannot be created, and also when a write fails afterwards (a file that is not complete
// must not be reported as written).
int writeConfiguration(int portNumber, const char* transferLine, bool continueFlag,
                       const BankLines& bank, const char* image,
                       const std::string& otherPath = std::string()) {
  // An existing file of another case is the one replaced; anything but a regular file is
  // never replaced.
  const std::string path =
      otherPath.empty() ? platform::resolveHostFile(kConfigFileName) : otherPath;
  std::error_code error;
  const auto status = std::filesystem::status(platform::pathFromUtf8(path), error);
  if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status))
    return kConfigNotCreated;
  std::string text;
  char line[160];
  const auto add = [&text, &line](const char* format, auto... args) {
    if constexpr (sizeof...(args) == 0) {
      text += format;  // a fixed line
    } else {
      std::snprintf(line, sizeof line, format, args...);
      text += line;
    }
  };
  add("; %s\n", kConfigFileName);
  add("[HOST]\n");
  add("UART = COM%d\n", portNumber);
  add("BAUD = 115200\n");
  add("FLASHUPSTRING = NO\n");
  add("URLADER = ROMWRITE.URL\n");
  add("%s\n", transferLine);
  add("CONTINUE = %s\n", continueFlag ? "YES" : "NO");
  add("[TARGET]\n");
  add("PROCESSOR = I80X86\n");
  add("ARCHITECTURE = B16\n");
  add("%s\n", bank.memory);
  add("%s\n", bank.erase);
  add("[FILES]\n");
  add(bank.programFormat, image);
  add("\n; end of file\n");
  // Written whole or not at all: a full disk leaves the file of the last run as it was.
  return platform::writeFileWhole(path, text) ? kConfigWritten : kConfigNotCreated;
}

}  // namespace

bool fileExists(const std::string& name) {
  return platform::hostFileExists(name);
}

const char* automaticImageName(uint32_t hwInfo) {
  if ((hwInfo & kHwMemoryExtension) == 0) {
    return (hwInfo & kHwNicamImage) ? kImageNicam : kImageMpeg;
  }
  if (hwInfo & kHwOptionB1) return kImageQamB1;
  if (hwInfo & kHwOptionB20) return fileExists(kImageDvbt) ? kImageDvbt : kImageAtsc;
  return fileExists(kImageAtsc) ? kImageAtsc : kImageDvbt;
}

const char* manualImageName(const ManualSelections& selections) {
  if (selections.memoryExtension != 1) return selections.mpegMode == 0 ? kImageNica : kImageMpeg;
  if (selections.optionB1 == 1) return kImageQamB1;
  if (selections.optionB20 == 1) return kImageDvbt;
  return kImageAtsc;
}

int writeAutomaticConfiguration(uint32_t hwInfo, bool optionUpdate, int portNumber,
                                const std::string& path) {
  const bool memoryExtension = (hwInfo & kHwMemoryExtension) != 0;
  const bool continueFlag = optionUpdate && (hwInfo & (kHwOptionB10 | kHwOptionB20)) != 0;
  return writeConfiguration(portNumber, kAutomaticTransfer, continueFlag,
                            memoryExtension ? kWithExtension : kWithoutExtension,
                            automaticImageName(hwInfo), path);
}

int writeManualConfiguration(int portNumber, const ManualSelections& selections) {
  const bool memoryExtension = selections.memoryExtension == 1;
  const bool continueFlag = selections.optionB1 != 1 && selections.optionUpdate != 0 &&
                            (selections.optionB10 == 1 || selections.optionB20 == 1);
  return writeConfiguration(portNumber, kManualTransfer, continueFlag,
                            memoryExtension ? kWithExtension : kWithoutExtension,
                            manualImageName(selections));
}
