// Command texts sent to the instrument: case conversion, the kind of answer a command
// expects, bounded formatting, and a printable form for trace records.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace instrument {

// Converts a to z to A to Z in place; every other byte stays.
void upperCaseInPlace(char* text);
void upperCaseInPlace(std::string& text);

// A command containing "?" is a query and is answered with one line.
bool isQuery(std::string_view command);

// A query that contains both "DUMP" and "READ" but not "COUNT" is answered with a raw
// block of bytes rather than a text line (the text is compared as given, so callers pass
// it upper-cased).
bool expectsRawBlock(std::string_view command);

// Formats "prefix value suffix" into a buffer of the given size. False, with the buffer
// holding the empty text, when the result would not fit: an instrument setting is never
// sent cut.
bool formatSettingCommand(char* buffer, size_t size, const char* format, const char* value);

// The text with carriage return, line feed, tab and other bytes outside 0x20-0x7E shown
// as escapes ("\r", "\n", "\t", "\xNN"), so that a trace record stays one line.
std::string printable(std::string_view text);

}  // namespace instrument
