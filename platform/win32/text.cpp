// UTF-8 and UTF-16 texts, and the system's messages for error codes.
#include "platform/win32/win32_shared.h"

#include "platform/utf8_text.h"

namespace platform::win32 {

// Through the program's own conversion (utf8_text.h), so that a text that is not valid
// reads the same on every system.
std::wstring widen(const std::string& text) {
  const std::u16string converted = utf16(text);
  return std::wstring(converted.begin(), converted.end());
}

std::string narrow(const std::wstring& text) {
  return utf8(std::u16string(text.begin(), text.end()));
}

std::string errorText(DWORD error) {
  wchar_t* message = nullptr;
  const DWORD n = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
  std::string text = n > 0 && message ? narrow(std::wstring(message, n)) : std::string();
  if (message) ::LocalFree(message);
  while (!text.empty() &&
         (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.')) {
    text.pop_back();
  }
  if (text.empty()) text = "error " + std::to_string(error);
  return text;
}

}  // namespace platform::win32
