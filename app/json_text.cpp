#include "app/json_text.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "platform/utf8_text.h"

namespace {

constexpr const char* kReplacement = "\xEF\xBF\xBD";  // U+FFFD

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The code unit of a \uXXXX escape at text[i], or -1.
long escapedUnit(const std::string& text, size_t i) {
  if (i + 6 > text.size() || text[i] != '\\' || text[i + 1] != 'u') return -1;
  long unit = 0;
  for (size_t k = i + 2; k < i + 6; ++k) {
    const int digit = hexDigit(text[k]);
    if (digit < 0) return -1;
    unit = unit * 16 + digit;
  }
  return unit;
}

// The library refuses a lone surrogate escape; another writer may have left one, and it reads
// as U+FFFD like any other character that cannot be.
std::string withoutLoneSurrogates(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    if (text[i] != '\\') {
      out += text[i++];
      continue;
    }
    const long unit = escapedUnit(text, i);
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      const long next = escapedUnit(text, i + 6);
      if (next >= 0xDC00 && next <= 0xDFFF) {
        out.append(text, i, 12);
        i += 12;
      } else {
        out += "\\ufffd";
        i += 6;
      }
    } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
      out += "\\ufffd";
      i += 6;
    } else {
      out.append(text, i, std::min<size_t>(2, text.size() - i));  // one escape, whole
      i += 2;
    }
  }
  return out;
}

// The library refuses a number beyond the range of a double (1e999); it reads as 0, as
// nothing in a record is that large.
std::string withoutHugeNumbers(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  bool inString = false;
  for (size_t i = 0; i < text.size();) {
    const char c = text[i];
    if (inString) {
      out += c;
      if (c == '\\' && i + 1 < text.size()) out += text[++i];
      if (c == '"') inString = false;
      ++i;
    } else if (c == '-' || (c >= '0' && c <= '9')) {
      const size_t end = text.find_first_not_of("0123456789+-.eE", i);
      const std::string number = text.substr(i, end == std::string::npos ? end : end - i);
      out += std::isinf(std::strtod(number.c_str(), nullptr)) ? "0" : number;
      i += number.size();
    } else {
      inString = c == '"';
      out += c;
      ++i;
    }
  }
  return out;
}

}  // namespace

std::string validUtf8(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const size_t length = platform::utf8Sequence(text, i);
    if (length == 0) {
      out += kReplacement;
      ++i;
    } else {
      out.append(text, i, length);
      i += length;
    }
  }
  return out;
}

Json jsonString(const std::string& text) {
  return Json(validUtf8(text));
}

std::string jsonLine(const Json& value) {
  const std::string dumped = value.dump(-1, ' ', false, Json::error_handler_t::replace);
  std::string out;
  out.reserve(dumped.size());
  for (size_t i = 0; i < dumped.size(); ++i) {
    const char c = dumped[i];
    if (c == '\x7F') {
      out += "\\u007F";  // only inside a string: JSON's own characters are all printable
    } else if (c != '\\' || i + 1 >= dumped.size()) {
      out += c;
    } else {
      const char kind = dumped[++i];
      if (kind == 'b') {
        out += "\\u0008";
      } else if (kind == 'f') {
        out += "\\u000C";
      } else if (kind == 'u') {
        out += "\\u";
        for (size_t k = i + 1; k < i + 5 && k < dumped.size(); ++k)
          out += static_cast<char>(std::toupper(static_cast<unsigned char>(dumped[k])));
        i += 4;
      } else {
        out += '\\';
        out += kind;
      }
    }
  }
  return out;
}

Json parseJson(const std::string& text) {
  return Json::parse(withoutHugeNumbers(withoutLoneSurrogates(validUtf8(text))), nullptr, false);
}

const Json* jsonMember(const Json* value, const char* key) {
  if (value == nullptr || !value->is_object()) return nullptr;
  const auto found = value->find(key);
  return found == value->end() ? nullptr : &*found;
}

std::string jsonTextOf(const Json* value) {
  return value && value->is_string() ? value->get_ref<const std::string&>() : std::string();
}

std::optional<int64_t> jsonIntegerOf(const Json* value) {
  if (value == nullptr || !value->is_number()) return std::nullopt;
  if (value->is_number_unsigned()) {
    const auto number = value->get<uint64_t>();
    if (number > static_cast<uint64_t>(INT64_MAX)) return std::nullopt;
    return static_cast<int64_t>(number);
  }
  if (value->is_number_integer()) return value->get<int64_t>();
  const double number = value->get<double>();
  if (!(std::fabs(number) < 9.0e18)) return std::nullopt;
  return static_cast<int64_t>(number);
}
