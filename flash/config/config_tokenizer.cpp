#include "flash/config/config_tokenizer.h"

#include <cstdio>

#include "platform/host_files.h"

namespace {

constexpr std::string_view kSeparators{" ,=\n\r\t", 6};
constexpr char kCommentStart = ';';

struct Keyword {
  const char* text;
  ConfigToken kind;
};

constexpr Keyword kKeywords[kConfigKeywordCount] = {
    {"[HOST]", kTokenHost},
    {"[TARGET]", kTokenTarget},
    {"[FILES]", kTokenFiles},
    {"UART", kTokenUart},
    {"BAUD", kTokenBaud},
    {"FLASHUPSTRING", kTokenFlashUpString},
    {"URLADER", kTokenUrlader},
    {"TRANSFER", kTokenTransfer},
    {"CONTINUE", kTokenContinue},
    {"PROCESSOR", kTokenProcessor},
    {"I80X86", kTokenI80x86},
    {"TMS320C30", kTokenTms320c30},
    {"ARCHITECTURE", kTokenArchitecture},
    {"B8", kTokenB8},
    {"B16", kTokenB16},
    {"B32", kTokenB32},
    {"MEMORY", kTokenMemory},
    {"ERASE", kTokenErase},
    {"AM28F010", kTokenAm28f010},
    {"I28F010", kTokenI28f010},
    {"AM28F020", kTokenAm28f020},
    {"I28F020", kTokenI28f020},
    {"AM29F010", kTokenAm29f010},
    {"AM29F040", kTokenAm29f040},
    {"PROGRAM", kTokenProgram},
    {"UPLOAD", kTokenUpload},
    {"YES", kTokenYes},
    {"NOERASE", kTokenNoErase},
};

// The open file and the line piece being taken apart.
struct TokenizerState {
  std::FILE* file = nullptr;
  char line[kConfigLinePieceMax + 1] = {};
  size_t length = 0;      // characters in line (a piece may hold NUL bytes)
  size_t position = 0;    // where the next token search starts
  bool lineEnded = true;  // the piece holds its line's end (a line feed, or the file's end)
  int pieceLine = 0;      // line number of the current piece, counted from 1
  int nextLine = 1;       // line number of the next piece
};

TokenizerState state;

enum PieceResult { kPieceRead, kPieceEndOfFile, kPieceError };

// Reads the next line piece: up to and including a line feed, at most
// kConfigLinePieceMax characters.
PieceResult readLinePiece() {
  state.length = 0;
  state.position = 0;
  state.lineEnded = true;
  state.pieceLine = state.nextLine;
  if (!state.file) return kPieceError;
  bool ended = false;
  while (state.length < static_cast<size_t>(kConfigLinePieceMax)) {
    const int c = std::getc(state.file);
    if (c == EOF) {
      if (std::ferror(state.file)) return kPieceError;
      ended = true;
      break;
    }
    state.line[state.length++] = static_cast<char>(c);
    if (c == '\n') {
      ended = true;
      ++state.nextLine;
      break;
    }
  }
  state.lineEnded = ended;
  if (state.length == 0) return kPieceEndOfFile;
  return kPieceRead;
}

// A comment runs to the end of its line however long it is: the pieces of the line that
// follow the current one are read and dropped, and nothing of the current one is left.
PieceResult skipRestOfLine() {
  while (!state.lineEnded) {
    const PieceResult result = readLinePiece();
    if (result != kPieceRead) return result;
  }
  state.position = state.length;
  return kPieceRead;
}

bool isSeparator(char c) {
  return kSeparators.find(c) != std::string_view::npos;
}

char upper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (upper(a[i]) != upper(b[i])) return false;
  }
  return true;
}

bool isDecimalDigit(char c) {
  return c >= '0' && c <= '9';
}
bool isHexDigit(char c) {
  return isDecimalDigit(c) || (upper(c) >= 'A' && upper(c) <= 'F');
}
bool hasHexPrefix(std::string_view t) {
  return t.size() >= 2 && t[0] == '0' && upper(t[1]) == 'X';
}

// The next token of the current piece, or an empty view when none is left.
std::string_view nextTokenInPiece() {
  const std::string_view piece(state.line, state.length);
  size_t begin = state.position;
  while (begin < piece.size() && isSeparator(piece[begin])) ++begin;
  size_t end = begin;
  while (end < piece.size() && !isSeparator(piece[end])) ++end;
  state.position = end;
  return piece.substr(begin, end - begin);
}

}  // namespace

int openConfigFile(const std::string& fileName) {
  closeConfigFile();
  state.file = platform::openHostFile(fileName, "rb");
  if (!state.file) return kConfigOpenNotReadable;
  switch (readLinePiece()) {
    case kPieceRead:
      return kConfigOpenOk;
    case kPieceEndOfFile:
      return kConfigOpenEmpty;
    case kPieceError:
      break;
  }
  return kConfigOpenNotReadable;
}

ConfigToken getToken(std::string& token, uint32_t& value) {
  token.clear();
  value = 0;
  std::string_view text;
  for (;;) {
    text = nextTokenInPiece();
    if (!text.empty() && text.front() != kCommentStart) break;
    if (!text.empty() && skipRestOfLine() == kPieceError) return kTokenReadError;
    switch (readLinePiece()) {
      case kPieceRead:
        continue;
      case kPieceEndOfFile:
        return kTokenEndOfFile;
      case kPieceError:
        return kTokenReadError;
    }
  }
  // A comment inside a token ends the token and the rest of the piece.
  const size_t comment = text.find(kCommentStart);
  token.assign(text.substr(0, comment));
  // The token is copied before the piece is overwritten; a read error shows at the next call.
  if (comment != std::string_view::npos) skipRestOfLine();
  const ConfigToken kind = classifyToken(token);
  if (kind == kTokenNumber) value = convertNumber(token);
  return kind;
}

void closeConfigFile() {
  if (state.file) std::fclose(state.file);
  state.file = nullptr;
  state.length = 0;
  state.position = 0;
  state.pieceLine = 0;
  state.nextLine = 1;
}

int configLineNumber() {
  return state.pieceLine;
}

ConfigToken classifyToken(std::string_view token) {
  for (const Keyword& keyword : kKeywords) {
    if (equalsIgnoringCase(token, keyword.text)) return keyword.kind;
  }
  std::string_view digits = token;
  bool hex = false;
  if (hasHexPrefix(token)) {
    digits.remove_prefix(2);
    hex = true;
  }
  if (digits.empty()) return kTokenWord;
  for (char c : digits) {
    if (hex ? !isHexDigit(c) : !isDecimalDigit(c)) return kTokenWord;
  }
  return kTokenNumber;
}

uint32_t convertNumber(std::string_view token) {
  uint32_t base = 10;
  if (hasHexPrefix(token) && token.size() > 2 && isHexDigit(token[2])) {
    base = 16;
    token.remove_prefix(2);
  } else if (!token.empty() && token[0] == '0') {
    base = 8;
  }
  uint64_t value = 0;
  bool overflow = false;
  for (char c : token) {
    uint32_t digit;
    if (isDecimalDigit(c)) {
      digit = static_cast<uint32_t>(c - '0');
    } else if (upper(c) >= 'A' && upper(c) <= 'Z') {
      digit = static_cast<uint32_t>(upper(c) - 'A' + 10);
    } else {
      break;
    }
    if (digit >= base) break;
    value = value * base + digit;
    if (value > 0xFFFFFFFFu) {
      overflow = true;
      value = 0xFFFFFFFFu;  // keep consuming digits; the result stays saturated
    }
  }
  return overflow ? 0xFFFFFFFFu : static_cast<uint32_t>(value);
}

const char* configKeywordText(ConfigToken kind) {
  for (const Keyword& keyword : kKeywords) {
    if (keyword.kind == kind) return keyword.text;
  }
  return "";
}
