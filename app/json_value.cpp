#include "app/json_value.h"

#include <charconv>
#include <cstdint>
#include <cstdio>

namespace {

constexpr int kMaxDepth = 64;
constexpr const char* kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// Length of the valid UTF-8 sequence at text[i], or 0 when the byte there does not begin
// one (overlong forms, surrogates and code points beyond U+10FFFF are invalid).
size_t utf8SequenceLength(const std::string& text, size_t i) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // overlong
    if (lead == 0xED) high = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;   // overlong
    if (lead == 0xF4) high = 0x8F;  // beyond U+10FFFF
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  if (byte(i + 1) < low || byte(i + 1) > high) return 0;
  for (size_t k = 2; k < length; ++k) {
    if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
  }
  return length;
}

void appendUtf8(std::string& out, uint32_t codePoint) {
  if (codePoint < 0x80) {
    out += static_cast<char>(codePoint);
  } else if (codePoint < 0x800) {
    out += static_cast<char>(0xC0 | (codePoint >> 6));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else if (codePoint < 0x10000) {
    out += static_cast<char>(0xE0 | (codePoint >> 12));
    out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (codePoint >> 18));
    out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  }
}

// Strings taken from the file are cleaned the way the writer cleans them.
std::string validUtf8(const std::string& raw) {
  std::string out;
  for (size_t i = 0; i < raw.size();) {
    const size_t length = utf8SequenceLength(raw, i);
    if (length == 0) {
      out += kReplacement;
      ++i;
    } else {
      out.append(raw, i, length);
      i += length;
    }
  }
  return out;
}

class Parser {
 public:
  explicit Parser(const std::string& text) : m_text(text) {}

  bool parseDocument(JsonValue& value) {
    if (!parseValue(value, 0)) return false;
    skipBlanks();
    return m_pos == m_text.size();
  }

 private:
  void skipBlanks() {
    while (m_pos < m_text.size() && (m_text[m_pos] == ' ' || m_text[m_pos] == '\t' ||
                                     m_text[m_pos] == '\n' || m_text[m_pos] == '\r')) {
      ++m_pos;
    }
  }

  bool literal(const char* word) {
    const std::string_view expected(word);
    if (m_text.compare(m_pos, expected.size(), expected) != 0) return false;
    m_pos += expected.size();
    return true;
  }

  bool parseValue(JsonValue& value, int depth) {
    if (depth > kMaxDepth) return false;
    skipBlanks();
    if (m_pos >= m_text.size()) return false;
    const char c = m_text[m_pos];
    if (c == '{') return parseObject(value, depth);
    if (c == '[') return parseArray(value, depth);
    if (c == '"') {
      value.kind = JsonValue::Kind::kString;
      return parseString(value.text);
    }
    if (c == 't' || c == 'f') {
      value.kind = JsonValue::Kind::kBool;
      value.boolean = c == 't';
      return literal(c == 't' ? "true" : "false");
    }
    if (c == 'n') {
      value.kind = JsonValue::Kind::kNull;
      return literal("null");
    }
    return parseNumber(value);
  }

  bool parseObject(JsonValue& value, int depth) {
    value.kind = JsonValue::Kind::kObject;
    ++m_pos;
    skipBlanks();
    if (m_pos < m_text.size() && m_text[m_pos] == '}') {
      ++m_pos;
      return true;
    }
    for (;;) {
      skipBlanks();
      std::string key;
      if (m_pos >= m_text.size() || m_text[m_pos] != '"' || !parseString(key)) return false;
      skipBlanks();
      if (m_pos >= m_text.size() || m_text[m_pos] != ':') return false;
      ++m_pos;
      JsonValue member;
      if (!parseValue(member, depth + 1)) return false;
      value.members.push_back({std::move(key), std::move(member)});
      skipBlanks();
      if (m_pos >= m_text.size()) return false;
      if (m_text[m_pos++] == '}') return true;
      if (m_text[m_pos - 1] != ',') return false;
    }
  }

  bool parseArray(JsonValue& value, int depth) {
    value.kind = JsonValue::Kind::kArray;
    ++m_pos;
    skipBlanks();
    if (m_pos < m_text.size() && m_text[m_pos] == ']') {
      ++m_pos;
      return true;
    }
    for (;;) {
      JsonValue item;
      if (!parseValue(item, depth + 1)) return false;
      value.items.push_back(std::move(item));
      skipBlanks();
      if (m_pos >= m_text.size()) return false;
      if (m_text[m_pos++] == ']') return true;
      if (m_text[m_pos - 1] != ',') return false;
    }
  }

  bool parseHex4(uint32_t& unit) {
    if (m_pos + 4 > m_text.size()) return false;
    const char* begin = m_text.data() + m_pos;
    const auto [end, error] = std::from_chars(begin, begin + 4, unit, 16);
    if (error != std::errc() || end != begin + 4) return false;
    m_pos += 4;
    return true;
  }

  bool parseString(std::string& out) {
    ++m_pos;  // the opening quote
    std::string raw;
    while (m_pos < m_text.size()) {
      const char c = m_text[m_pos++];
      if (c == '"') {
        out = validUtf8(raw);
        return true;
      }
      if (static_cast<unsigned char>(c) < 0x20) return false;
      if (c != '\\') {
        raw += c;
        continue;
      }
      if (m_pos >= m_text.size()) return false;
      const char e = m_text[m_pos++];
      switch (e) {
        case '"':
        case '\\':
        case '/':
          raw += e;
          break;
        case 'b':
          raw += '\b';
          break;
        case 'f':
          raw += '\f';
          break;
        case 'n':
          raw += '\n';
          break;
        case 'r':
          raw += '\r';
          break;
        case 't':
          raw += '\t';
          break;
        case 'u': {
          uint32_t unit = 0;
          if (!parseHex4(unit)) return false;
          if (unit >= 0xD800 && unit <= 0xDBFF && m_text.compare(m_pos, 2, "\\u") == 0) {
            const size_t save = m_pos;
            m_pos += 2;
            uint32_t second = 0;
            if (parseHex4(second) && second >= 0xDC00 && second <= 0xDFFF) {
              appendUtf8(raw, 0x10000 + ((unit - 0xD800) << 10) + (second - 0xDC00));
              break;
            }
            m_pos = save;
          }
          if (unit >= 0xD800 && unit <= 0xDFFF) {
            raw += kReplacement;
          } else {
            appendUtf8(raw, unit);
          }
          break;
        }
        default:
          return false;
      }
    }
    return false;
  }

  bool parseNumber(JsonValue& value) {
    // JSON's grammar: -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?
    const size_t start = m_pos;
    const auto digit = [&] {
      return m_pos < m_text.size() && m_text[m_pos] >= '0' && m_text[m_pos] <= '9';
    };
    const auto digits = [&] {
      if (!digit()) return false;
      while (digit()) ++m_pos;
      return true;
    };
    if (m_pos < m_text.size() && m_text[m_pos] == '-') ++m_pos;
    if (m_pos < m_text.size() && m_text[m_pos] == '0') {
      ++m_pos;
    } else if (!digits()) {
      return false;
    }
    if (m_pos < m_text.size() && m_text[m_pos] == '.') {
      ++m_pos;
      if (!digits()) return false;
    }
    if (m_pos < m_text.size() && (m_text[m_pos] == 'e' || m_text[m_pos] == 'E')) {
      ++m_pos;
      if (m_pos < m_text.size() && (m_text[m_pos] == '+' || m_text[m_pos] == '-')) ++m_pos;
      if (!digits()) return false;
    }
    value.kind = JsonValue::Kind::kNumber;
    const auto [end, error] =
        std::from_chars(m_text.data() + start, m_text.data() + m_pos, value.number);
    // Out of range (1e999) is still a number of the grammar; it reads as 0.
    if (error == std::errc::result_out_of_range) value.number = 0;
    return end == m_text.data() + m_pos || error == std::errc::result_out_of_range;
  }

  const std::string& m_text;
  size_t m_pos = 0;
};

}  // namespace

const JsonValue* JsonValue::get(const std::string& key) const {
  for (const auto& [name, value] : members) {
    if (name == key) return &value;
  }
  return nullptr;
}

bool parseJson(const std::string& text, JsonValue& value) {
  value = JsonValue();
  return Parser(text).parseDocument(value);
}

void appendJsonString(std::string& out, const std::string& value) {
  out += '"';
  for (size_t i = 0; i < value.size();) {
    const auto c = static_cast<unsigned char>(value[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c == 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04X", c);
      out += escape;
    } else {
      const size_t length = utf8SequenceLength(value, i);
      if (length == 0) {
        out += kReplacement;
        ++i;
      } else {
        out.append(value, i, length);
        i += length;
      }
      continue;
    }
    ++i;
  }
  out += '"';
}
