#include "appdata/Cp1251.h"

#include <cstdint>

namespace {

// Windows-1251 bytes 0x80 to 0xBF; 0 where the code page has no character.
const std::uint16_t kHighTable[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409,
    0x2039, 0x040A, 0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0,      0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0,
    0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB,
    0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6,
    0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457};

char ToCp1251(std::uint32_t code) {
  if (code < 0x80) return static_cast<char>(code);
  if (code >= 0x0410 && code <= 0x044F) return static_cast<char>(0xC0 + (code - 0x0410));
  for (int i = 0; i < 64; ++i)
    if (kHighTable[i] == code) return static_cast<char>(0x80 + i);
  return '?';
}

}  // namespace

std::string Utf8ToCp1251(const std::string& utf8) {
  std::string out;
  for (std::size_t i = 0; i < utf8.size();) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    std::uint32_t code = c;
    int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
    if (c >= 0x80 && extra == 0) {  // a stray continuation byte
      out.push_back('?');
      ++i;
      continue;
    }
    if (extra > 0) code = c & (0x3F >> extra);
    bool whole = i + static_cast<std::size_t>(extra) < utf8.size() || extra == 0;
    for (int k = 1; k <= extra && whole; ++k) {
      unsigned char next = static_cast<unsigned char>(utf8[i + static_cast<std::size_t>(k)]);
      if ((next & 0xC0) != 0x80) whole = false;
      code = code << 6 | (next & 0x3F);
    }
    out.push_back(whole ? ToCp1251(code) : '?');
    i += whole ? static_cast<std::size_t>(extra) + 1 : 1;
  }
  return out;
}
