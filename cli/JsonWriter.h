// A small JSON writer for the reports: objects, arrays, strings, numbers, booleans and null,
// written compactly. Strings are UTF-8; a byte sequence that is not UTF-8 becomes U+FFFD, so the
// report stays valid whatever a file or a receiver holds.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class TJsonWriter {
 public:
  TJsonWriter& BeginObject();
  TJsonWriter& EndObject();
  TJsonWriter& BeginArray();
  TJsonWriter& EndArray();
  // The next member's name (inside an object).
  TJsonWriter& Key(const std::string& name);
  TJsonWriter& String(const std::string& value);
  TJsonWriter& Number(double value);
  TJsonWriter& Integer(std::int64_t value);
  TJsonWriter& Bool(bool value);
  TJsonWriter& Null();
  // A value written elsewhere, inserted as it is.
  TJsonWriter& Raw(const std::string& json);

  const std::string& Text() const { return text_; }

 private:
  void BeforeValue();

  std::string text_;
  std::vector<bool> first_;  // per open object or array: no member written yet
  bool afterKey_ = false;
};

// The text as a JSON string literal, quotes included.
std::string JsonQuoted(const std::string& text);
