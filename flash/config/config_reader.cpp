#include "flash/config/config_reader.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "flash/config/config_tokenizer.h"

namespace {

// Reads the entries of one file; every method returns false at the first token that does
// not fit, and the caller turns that into kConfigSyntaxError.
class ConfigParser {
 public:
  explicit ConfigParser(ProgrammingJob& job) : m_job(job) {}

  bool parse();
  // Where and why reading stopped: "LINE: ENTRY TOKEN: reason"; empty while all went well.
  const std::string& diagnosis() const { return m_diagnosis; }

 private:
  void next();
  // Notes the first failure at the current token; always false.
  bool fail(const std::string& why);
  // The current token must be this keyword; then moves on.
  bool expect(ConfigToken keyword);
  bool number(uint32_t& out);
  bool word(char* out, size_t size, bool upperCase);
  bool flag(uint8_t& out);

  bool hostSection();
  bool targetSection();
  bool filesSection();

  ProgrammingJob& m_job;
  ConfigToken m_kind = kTokenEndOfFile;
  std::string m_text;
  uint32_t m_value = 0;
  std::string m_entry;  // the keyword that began the entry being read
  std::string m_diagnosis;
};

// Keywords that begin an entry (or a section), as against the values of one.
bool beginsEntry(ConfigToken kind) {
  for (const ConfigToken entry :
       {kTokenHost, kTokenTarget, kTokenFiles, kTokenUart, kTokenBaud, kTokenFlashUpString,
        kTokenUrlader, kTokenTransfer, kTokenContinue, kTokenProcessor, kTokenArchitecture,
        kTokenMemory, kTokenErase, kTokenProgram, kTokenUpload}) {
    if (kind == entry) return true;
  }
  return false;
}

void ConfigParser::next() {
  m_kind = getToken(m_text, m_value);
  if (beginsEntry(m_kind)) m_entry = configKeywordText(m_kind);
}

// A token as a message shows it: control characters as "\x01".
std::string shown(const std::string& text) {
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != 0x7f) {
      out += c;
      continue;
    }
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
    out += escaped;
  }
  return out;
}

bool ConfigParser::fail(const std::string& why) {
  if (!m_diagnosis.empty()) return false;
  std::string token = m_kind == kTokenEndOfFile   ? "end of file"
                      : m_kind == kTokenReadError ? "read error"
                                                  : shown(m_text);
  if (!m_entry.empty() && !beginsEntry(m_kind)) token = m_entry + " " + token;
  m_diagnosis = std::to_string(configLineNumber()) + ": " + token + ": " + why;
  return false;
}

bool ConfigParser::expect(ConfigToken keyword) {
  if (m_kind != keyword) return fail(std::string(configKeywordText(keyword)) + " expected");
  next();
  return true;
}

bool ConfigParser::number(uint32_t& out) {
  if (m_kind != kTokenNumber) return fail("a number expected");
  out = m_value;
  next();
  return true;
}

// A word goes into a fixed text field of the job; a value that does not fit, or that holds
// a NUL byte (which would cut it), is refused rather than shortened, so that the job never
// names another file than the one written.
bool ConfigParser::word(char* out, size_t size, bool upperCase) {
  if (m_kind != kTokenWord) return fail("a name expected");
  if (m_text.size() >= size) {
    return fail("longer than " + std::to_string(size - 1) + " characters");
  }
  if (m_text.find('\0') != std::string::npos) return fail("holds a NUL byte");
  for (size_t i = 0; i < m_text.size(); ++i) {
    const char c = m_text[i];
    out[i] = upperCase && c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  }
  out[m_text.size()] = '\0';
  next();
  return true;
}

// A flag entry takes whatever token comes next; only YES sets the flag. NOERASE is
// accepted nowhere, not even here.
bool ConfigParser::flag(uint8_t& out) {
  if (m_kind < 0) return fail("a value expected");
  if (m_kind == kTokenNoErase) return fail("NOERASE is not accepted");
  out = m_kind == kTokenYes ? 1 : 0;
  next();
  return true;
}

bool ConfigParser::hostSection() {
  if (!expect(kTokenHost)) return false;
  if (!expect(kTokenUart) || !word(m_job.uart, sizeof m_job.uart, false)) return false;
  if (!expect(kTokenBaud) || !number(m_job.baud)) return false;
  if (!expect(kTokenFlashUpString) || !flag(m_job.flashUpString)) return false;
  if (!expect(kTokenUrlader) ||
      !word(m_job.bootstrapLoaderFile, sizeof m_job.bootstrapLoaderFile, true)) {
    return false;
  }
  if (!expect(kTokenTransfer) || !word(m_job.transferFile, sizeof m_job.transferFile, true) ||
      !number(m_job.transferLoadAddress) || !number(m_job.transferStartAddress)) {
    return false;
  }
  return expect(kTokenContinue) && flag(m_job.continueFlag);
}

FlashChip chipOfToken(ConfigToken kind) {
  switch (kind) {
    case kTokenAm28f010:
      return AM28F010;
    case kTokenI28f010:
      return I28F010;
    case kTokenAm28f020:
      return AM28F020;
    case kTokenI28f020:
      return I28F020;
    case kTokenAm29f010:
      return AM29F010;
    case kTokenAm29f040:
      return AM29F040;
    default:
      return kNoChip;
  }
}

bool ConfigParser::targetSection() {
  if (!expect(kTokenTarget) || !expect(kTokenProcessor)) return false;
  if (m_kind == kTokenI80x86) {
    m_job.processor = I80X86;
  } else if (m_kind == kTokenTms320c30) {
    m_job.processor = TMS320C30;
  } else {
    return fail("unknown processor (I80X86 or TMS320C30)");
  }
  next();

  if (!expect(kTokenArchitecture)) return false;
  if (m_kind == kTokenB8) {
    m_job.architecture = B8;
  } else if (m_kind == kTokenB16) {
    m_job.architecture = B16;
  } else if (m_kind == kTokenB32) {
    m_job.architecture = B32;
  } else {
    return fail("unknown architecture (B8, B16 or B32)");
  }
  next();

  // An eleventh MEMORY ends the loop and is then out of place before ERASE or [FILES].
  for (int i = 0; i < kMaxJobEntries && m_kind == kTokenMemory; ++i) {
    next();
    MemoryBank& bank = m_job.banks[i];
    if (!number(bank.start) || !number(bank.length)) return false;
    bank.chipType = chipOfToken(m_kind);
    if (bank.chipType == kNoChip) return fail("unknown chip type");
    next();
  }
  for (int i = 0; i < kMaxJobEntries && m_kind == kTokenErase; ++i) {
    next();
    EraseArea& area = m_job.eraseAreas[i];
    if (!number(area.start) || !number(area.length)) return false;
  }
  return true;
}

bool ConfigParser::filesSection() {
  if (!expect(kTokenFiles)) return false;
  for (int i = 0; i < kMaxJobEntries && m_kind == kTokenProgram; ++i) {
    next();
    ProgramFile& program = m_job.programs[i];
    if (!number(program.address) || !word(program.fileName, sizeof program.fileName, true)) {
      return false;
    }
  }
  for (int i = 0; i < kMaxJobEntries && m_kind == kTokenUpload; ++i) {
    next();
    UploadArea& upload = m_job.uploads[i];
    if (!number(upload.start) || !number(upload.length) ||
        !word(upload.fileName, sizeof upload.fileName, true)) {
      return false;
    }
  }
  return true;
}

bool ConfigParser::parse() {
  next();
  if (!hostSection() || !targetSection() || !filesSection()) return false;
  if (m_kind == kTokenEndOfFile) return true;
  m_entry.clear();  // the entries before were complete
  return fail(m_kind == kTokenReadError
                  ? "the file cannot be read further"
                  : "out of place (more than " + std::to_string(kMaxJobEntries) +
                        " entries of a kind, or after the last entry)");
}

}  // namespace

int readProgrammingConfig(ProgrammingJob& job, const std::string& fileName,
                          std::string* diagnosis) {
  job = ProgrammingJob{};
  const int opened = openConfigFile(fileName);
  if (opened != kConfigOpenOk) {
    closeConfigFile();
    if (diagnosis) {
      *diagnosis = shown(fileName) +
                   (opened == kConfigOpenEmpty ? ": the file is empty" : ": cannot be read");
    }
    return opened == kConfigOpenEmpty ? kConfigReadEmpty : kConfigReadNotReadable;
  }
  ConfigParser parser(job);
  const bool complete = parser.parse();
  closeConfigFile();
  if (diagnosis) *diagnosis = complete ? std::string() : shown(fileName) + ":" + parser.diagnosis();
  return complete ? kConfigReadOk : kConfigSyntaxError;
}
