// The tokenizer of the programming configuration file. The file is a stream of tokens
// separated by runs of " ,=\n\r\t"; ";" starts a comment that runs to the end of its line,
// also inside a token, however long the line is. Lines are read in pieces of at most
// kConfigLinePieceMax characters, so a longer line without a comment reads as several lines. One
// file at a time: the tokenizer keeps the open file and its position in file-scope state and is not
// re-entrant.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The kind of a token: one of the 28 keywords, a number or a word; or the end of the file
// or a read error. Keywords match without regard to case and are all reserved.
enum ConfigToken : int {
  kTokenReadError = -2,
  kTokenEndOfFile = -1,
  kTokenHost = 0,       // [HOST]
  kTokenTarget,         // [TARGET]
  kTokenFiles,          // [FILES]
  kTokenUart,           // UART
  kTokenBaud,           // BAUD
  kTokenFlashUpString,  // FLASHUPSTRING
  kTokenUrlader,        // URLADER
  kTokenTransfer,       // TRANSFER
  kTokenContinue,       // CONTINUE
  kTokenProcessor,      // PROCESSOR
  kTokenI80x86,         // I80X86
  kTokenTms320c30,      // TMS320C30
  kTokenArchitecture,   // ARCHITECTURE
  kTokenB8,             // B8
  kTokenB16,            // B16
  kTokenB32,            // B32
  kTokenMemory,         // MEMORY
  kTokenErase,          // ERASE
  kTokenAm28f010,       // AM28F010
  kTokenI28f010,        // I28F010
  kTokenAm28f020,       // AM28F020
  kTokenI28f020,        // I28F020
  kTokenAm29f010,       // AM29F010
  kTokenAm29f040,       // AM29F040
  kTokenProgram,        // PROGRAM
  kTokenUpload,         // UPLOAD
  kTokenYes,            // YES (the only flag value that sets a flag)
  kTokenNoErase,        // NOERASE (reserved, accepted nowhere)
  kTokenNumber,         // "0x"/"0X" and hexadecimal digits, or decimal digits only
  kTokenWord,           // anything else
};

inline constexpr int kConfigKeywordCount = 28;
// Longest line piece read at once; also the longest token.
inline constexpr int kConfigLinePieceMax = 199;

// Results of openConfigFile.
inline constexpr int kConfigOpenOk = 0;
inline constexpr int kConfigOpenEmpty = -1;        // end of file before any character
inline constexpr int kConfigOpenNotReadable = -2;  // cannot be opened, or the first read fails

// Opens the named file (matched without regard to case) for binary reading, so carriage
// returns stay in the text and act as separators, and reads its first line piece.
// A file still open from an earlier call is closed first.
int openConfigFile(const std::string& fileName);

// The next token: its text (at most kConfigLinePieceMax characters) and kind; for a
// number also its value. kTokenEndOfFile at the end of the file, kTokenReadError when
// reading fails; the text is empty then.
ConfigToken getToken(std::string& token, uint32_t& value);

void closeConfigFile();

// The line (counted from 1) of the token getToken returned last; 0 when no file is open.
int configLineNumber();

// Keyword, number or word, by the rules above (never end of file or read error).
ConfigToken classifyToken(std::string_view token);

// The value of a number token with an automatic base: hexadecimal after "0x"/"0X", octal
// with a leading "0", else decimal. Conversion stops at the first character that is not a
// digit of the base ("08" is 0, "0100" is 64); a value that does not fit in 32 bits reads
// as 0xFFFFFFFF.
uint32_t convertNumber(std::string_view token);

// The keyword text of a keyword kind ("MEMORY"), or "" for any other kind.
const char* configKeywordText(ConfigToken kind);
