#include "programmer/VersionFields.h"

#include <algorithm>
#include <string>

#include "appdata/DMU.h"

namespace {

std::string FieldText(const std::uint8_t* bytes, std::size_t size) {
  const std::uint8_t* end = std::find(bytes, bytes + size, 0);
  return std::string(bytes, end);
}

// Characters from..to (1-based, inclusive), fewer when the text is shorter.
std::string Characters(const std::string& text, std::size_t from, std::size_t to) {
  if (text.size() < from) return std::string();
  return text.substr(from - 1, to - from + 1);
}

}  // namespace

TVersionInfo BootVersionFrom(const std::uint8_t* block) {
  const std::string text = FieldText(block + 7, 31);
  TVersionInfo boot;
  boot.Number = Characters(text, 17, 21);
  boot.Date = TrimBlanks(Characters(text, 22, 29));
  std::replace(boot.Date.begin(), boot.Date.end(), '.', '/');
  return boot;
}

TVersionInfo FirmwareVersionFrom(const std::uint8_t* block) {
  const TDescriptionFields fields = DescriptionFieldsOf(block);
  TVersionInfo firmware;
  firmware.Date = FormatBuildDate(fields.Date);
  firmware.Time = fields.Time;
  firmware.Number = fields.Major + "." + fields.Minor;
  return firmware;
}
