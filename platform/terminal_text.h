// Text from outside (a port name, a record another program wrote) made safe to print on a
// terminal or to write into a JSON string.
#pragma once

#include <string>

namespace platform {

// Text for the terminal, with every character that could move the cursor, recolour the
// screen or reorder the line shown otherwise: C0 and C1 controls, DEL, the bidirectional
// controls (U+061C, U+200E, U+200F, U+202A-U+202E, U+2066-U+2069), the line and paragraph
// separators, and each byte that is not part of valid UTF-8.
enum class TerminalEscape {
  Hex,       // "\x1b" for a byte, "\u202e" for a character
  Question,  // '?' each, so that columns stay aligned
  Json,      // "\u001b", "\u202e" (the same JSON text), "\ufffd" for an invalid byte
};
std::string terminalText(const std::string& text, TerminalEscape style);

}  // namespace platform
