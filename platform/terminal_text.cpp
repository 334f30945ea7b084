#include "platform/terminal_text.h"

#include <cstdint>
#include <cstdio>

#include "platform/utf8_text.h"

namespace platform {
namespace {

bool unsafeOnTerminal(uint32_t c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x061C || c == 0x200E || c == 0x200F ||
         (c >= 0x2028 && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

}  // namespace

std::string terminalText(const std::string& text, TerminalEscape style) {
  std::string shown;
  shown.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    uint32_t codePoint = 0;
    const size_t length = utf8Sequence(text, i, &codePoint);
    if (length > 0 && !unsafeOnTerminal(codePoint)) {
      shown.append(text, i, length);
      i += length;
      continue;
    }
    char escaped[16];
    if (style == TerminalEscape::Question) {
      shown += '?';
    } else if (style == TerminalEscape::Json) {
      std::snprintf(escaped, sizeof escaped, "\\u%04x", length > 0 ? codePoint : 0xFFFDu);
      shown += escaped;
    } else if (length == 1 || length == 0) {
      std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned char>(text[i]));
      shown += escaped;
    } else {
      std::snprintf(escaped, sizeof escaped, "\\u%04x", codePoint);
      shown += escaped;
    }
    i += length > 0 ? length : 1;
  }
  return shown;
}

}  // namespace platform
