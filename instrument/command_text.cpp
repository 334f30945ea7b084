#include "instrument/command_text.h"

#include <cstdio>

namespace instrument {

void upperCaseInPlace(char* text) {
  if (text == nullptr) return;
  for (; *text; ++text)
    if (*text >= 'a' && *text <= 'z') *text = static_cast<char>(*text - 'a' + 'A');
}

void upperCaseInPlace(std::string& text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
}

bool isQuery(std::string_view command) {
  return command.find('?') != std::string_view::npos;
}

bool expectsRawBlock(std::string_view command) {
  return command.find("DUMP") != std::string_view::npos &&
         command.find("READ") != std::string_view::npos &&
         command.find("COUNT") == std::string_view::npos;
}

bool formatSettingCommand(char* buffer, size_t size, const char* format, const char* value) {
  if (buffer == nullptr || size == 0) return false;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  const int length = std::snprintf(buffer, size, format, value);
#pragma GCC diagnostic pop
  if (length < 0 || static_cast<size_t>(length) >= size) {
    buffer[0] = '\0';
    return false;
  }
  return true;
}

std::string printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    switch (byte) {
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (byte >= 0x20 && byte < 0x7F) {
          out += c;
        } else {
          char escape[5];
          std::snprintf(escape, sizeof escape, "\\x%02X", byte);
          out += escape;
        }
    }
  }
  return out;
}

}  // namespace instrument
