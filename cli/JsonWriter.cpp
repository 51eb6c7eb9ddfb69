#include "cli/JsonWriter.h"

#include <cmath>
#include <cstdio>

namespace {

// The length of the UTF-8 sequence at text[i], or 0 when it is not one.
std::size_t Utf8Length(const std::string& text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  std::size_t length = 0;
  std::uint32_t code = 0;
  if (lead < 0x80) return 1;
  if ((lead & 0xE0) == 0xC0) {
    length = 2;
    code = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3;
    code = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4;
    code = lead & 0x07;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    code = code << 6 | (byte(i + k) & 0x3F);
  }
  // Overlong forms, surrogates and values beyond U+10FFFF are not UTF-8.
  static const std::uint32_t smallest[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < smallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

}  // namespace

std::string JsonQuoted(const std::string& text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    const std::size_t length = Utf8Length(text, i);
    if (length == 0) {
      out += "\xEF\xBF\xBD";  // U+FFFD
      ++i;
      continue;
    }
    if (length > 1) {
      out.append(text, i, length);
      i += length;
      continue;
    }
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
          out += escaped;
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
    ++i;
  }
  return out + "\"";
}

void TJsonWriter::BeforeValue() {
  if (afterKey_) {
    afterKey_ = false;
    return;
  }
  if (!first_.empty()) {
    if (!first_.back()) text_ += ",";
    first_.back() = false;
  }
}

TJsonWriter& TJsonWriter::BeginObject() {
  BeforeValue();
  text_ += "{";
  first_.push_back(true);
  return *this;
}

TJsonWriter& TJsonWriter::EndObject() {
  text_ += "}";
  first_.pop_back();
  return *this;
}

TJsonWriter& TJsonWriter::BeginArray() {
  BeforeValue();
  text_ += "[";
  first_.push_back(true);
  return *this;
}

TJsonWriter& TJsonWriter::EndArray() {
  text_ += "]";
  first_.pop_back();
  return *this;
}

TJsonWriter& TJsonWriter::Key(const std::string& name) {
  BeforeValue();
  text_ += JsonQuoted(name) + ":";
  afterKey_ = true;
  return *this;
}

TJsonWriter& TJsonWriter::String(const std::string& value) {
  BeforeValue();
  text_ += JsonQuoted(value);
  return *this;
}

TJsonWriter& TJsonWriter::Number(double value) {
  BeforeValue();
  if (!std::isfinite(value)) {
    text_ += "null";
    return *this;
  }
  char number[32];
  std::snprintf(number, sizeof number, "%.3f", value);
  text_ += number;
  return *this;
}

TJsonWriter& TJsonWriter::Integer(std::int64_t value) {
  BeforeValue();
  text_ += std::to_string(value);
  return *this;
}

TJsonWriter& TJsonWriter::Bool(bool value) {
  BeforeValue();
  text_ += value ? "true" : "false";
  return *this;
}

TJsonWriter& TJsonWriter::Null() {
  BeforeValue();
  text_ += "null";
  return *this;
}

TJsonWriter& TJsonWriter::Raw(const std::string& json) {
  BeforeValue();
  text_ += json;
  return *this;
}
