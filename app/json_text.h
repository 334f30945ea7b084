// JSON of the service records, the backup manifest and the fleet's report, through
// nlohmann-json. Objects keep their keys in the order they were set, so every line reads in
// the order the record's keys are documented in.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

using Json = nlohmann::ordered_json;

// The text with each byte that is not part of valid UTF-8 replaced by U+FFFD (overlong
// forms, surrogates and code points beyond U+10FFFF are not valid).
std::string validUtf8(const std::string& text);

// A JSON string of `text` after validUtf8, so that a value is valid JSON whatever its bytes.
Json jsonString(const std::string& text);

// The value as compact JSON text. Control characters and DEL are written as \u escapes with
// upper-case digits (\n, \r and \t as such); any invalid UTF-8 left becomes U+FFFD.
std::string jsonLine(const Json& value);

// Parses one JSON text without exceptions: a discarded value (is_discarded()) on any syntax
// error or on anything after the value. Bytes that are not valid UTF-8 and \u escapes of lone
// surrogates read as U+FFFD, as the writer stores them.
Json parseJson(const std::string& text);

// The member `key` of an object, or nullptr (also when `value` is no object or null).
const Json* jsonMember(const Json* value, const char* key);
// The text of a string value; empty for anything else.
std::string jsonTextOf(const Json* value);
// The value of a number with no fraction that fits 64 bits signed (a number with a fraction
// is cut towards zero); unset for anything else.
std::optional<int64_t> jsonIntegerOf(const Json* value);
