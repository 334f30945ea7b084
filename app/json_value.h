// A small JSON reader and string writer, enough for the lines of the service record history:
// objects, arrays, strings with every escape, numbers, true, false and null.
#pragma once

#include <string>
#include <vector>

struct JsonValue {
  struct Member;
  enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject };
  Kind kind = Kind::kNull;
  bool boolean = false;
  double number = 0;
  std::string text;              // kString, as UTF-8
  std::vector<JsonValue> items;  // kArray
  std::vector<Member> members;   // kObject, in file order

  // The member of an object (the first of that name), or nullptr.
  const JsonValue* get(const std::string& key) const;
  bool isString() const { return kind == Kind::kString; }
  bool isNumber() const { return kind == Kind::kNumber; }
};

struct JsonValue::Member {
  std::string key;
  JsonValue value;
};

// Parses one JSON text (surrounding blanks allowed). False on any syntax error, on nesting
// deeper than 64 levels, and on anything after the value. Invalid UTF-8 in strings and lone
// surrogates of \u escapes become U+FFFD.
bool parseJson(const std::string& text, JsonValue& value);

// Appends value as a JSON string literal, quotes included. Control characters are escaped;
// valid UTF-8 passes unchanged; each byte that is not part of valid UTF-8 becomes U+FFFD, so
// that the line stays valid JSON whatever the bytes were.
void appendJsonString(std::string& out, const std::string& value);
