// UTF-8 read one character at a time: the program's texts are UTF-8, and what comes from
// outside (a port name, a record another program wrote) need not be valid.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// The length (1 to 4) of the valid UTF-8 sequence at text[at], with its code point in
// `codePoint` where given; 0 where the byte there begins no valid sequence: a continuation
// byte, an overlong form, a surrogate, a code point beyond U+10FFFF or a sequence cut short.
size_t utf8Sequence(std::string_view text, size_t at, uint32_t* codePoint = nullptr);

// UTF-8 to UTF-16 (the system's texts on Windows) and back. A byte sequence that is not UTF-8
// becomes one U+FFFD (a lead byte with the continuation bytes that follow it, as many as it
// announces), an unpaired surrogate too.
std::u16string utf16(std::string_view text);
std::string utf8(std::u16string_view text);

}  // namespace platform
