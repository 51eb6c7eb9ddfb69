// The description block of a system file: found by "=== Device ID", 93 bytes of fixed fields.
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "appdata/DMU.h"

namespace {

// The field's bytes up to its first zero byte, or all of them.
std::string Field(const std::uint8_t* block, std::size_t offset, std::size_t size) {
  const std::uint8_t* begin = block + offset;
  const std::uint8_t* end = std::find(begin, begin + size, 0);
  return std::string(begin, end);
}

// Takes the text up to and including its first space (all of it stays when there is none).
std::string TakeWord(std::string& text) {
  std::size_t space = text.find(' ');
  if (space == std::string::npos) return std::string();
  std::string word = text.substr(0, space + 1);
  text.erase(0, space + 1);
  return word;
}

std::string TwoDigits(std::string text) {
  return text.size() < 2 ? "0" + text : text;
}

}  // namespace

// White space and control characters.
std::string TrimBlanks(const std::string& text) {
  auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  std::size_t begin = 0, end = text.size();
  while (begin < end && blank(text[begin])) ++begin;
  while (end > begin && blank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

TDescriptionFields DescriptionFieldsOf(const std::uint8_t* block) {
  TDescriptionFields fields;
  fields.Device = Field(block, 20, 6);
  fields.Major = Field(block, 26, 3);
  fields.Minor = Field(block, 29, 3);
  fields.Date = Field(block, 32, 12);
  fields.Time = Field(block, 44, 9);
  fields.Comment = Field(block, 53, 30);
  return fields;
}

bool FindDescriptionFields(const std::uint8_t* bytes, std::size_t count,
                           TDescriptionFields& fields) {
  const std::int32_t at = FindText(bytes, count, DescriptionMarker);
  if (at < 0 || count - static_cast<std::size_t>(at) < DescriptionBlockSize) return false;
  fields = DescriptionFieldsOf(bytes + at);
  return true;
}

std::int32_t FindText(const std::uint8_t* bytes, std::size_t count, const std::string& text) {
  if (text.empty()) return -1;
  std::size_t matched = 0, start = 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (bytes[i] == static_cast<std::uint8_t>(text[matched])) {
      if (matched == 0) start = i;
      if (++matched == text.size()) return static_cast<std::int32_t>(start);
    } else {
      matched = 0;  // the byte is not tried again as the first character
    }
  }
  return -1;
}

int MonthNumber(const std::string& text) {
  static const char* const months[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                       "jul", "aug", "sep", "oct", "nov", "dec"};
  std::string key = TrimBlanks(text);
  std::transform(key.begin(), key.end(), key.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  for (int i = 0; i < 12; ++i)
    if (key == months[i]) return i + 1;
  return 0;
}

std::string FormatBuildDate(const std::string& text) {
  std::string rest = TrimBlanks(text);
  std::string month = TwoDigits(std::to_string(MonthNumber(TakeWord(rest))));
  std::string day = TwoDigits(TrimBlanks(TakeWord(rest)));
  std::string year = TrimBlanks(rest);
  if (year.size() == 4) year = year.substr(2);
  return day + "/" + month + "/" + year;
}

std::string TDM::GetFileDescription(const std::string& path) const {
  const std::string noData = Tr("Нет данных", "No data");
  if (path.empty()) return noData;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return noData;
  std::ifstream in(path, std::ios::binary);
  if (!in) return noData;
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
  if (in.bad()) return noData;
  return DescribeSystemFile(bytes, std::filesystem::path(path).filename().string());
}

std::string DescribeSystemFile(const std::vector<std::uint8_t>& bytes, const std::string& name) {
  TDescriptionFields fields;
  if (!FindDescriptionFields(bytes.data(), bytes.size(), fields))
    return Tr("Нет данных", "No data");
  std::string text = "File: \"" + name + "\"\r\n" + "Device Id: " + fields.Device + "\r\n" +
                     "Version Id: " + fields.Major + "." + fields.Minor + "\r\n" +
                     "Date/Time: " + fields.Date + " " + fields.Time;
  if (!fields.Comment.empty()) text += "\r\nComment: " + fields.Comment;
  return TrimBlanks(text);
}
