// The description block of a system file: found by "=== Device ID", 93 bytes of fixed fields.
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "appdata/DMU.h"

namespace {

bool IsBlank(unsigned char c) {
  return c <= ' ';
}  // white space and control characters

std::string Trim(const std::string& text) {
  std::size_t begin = 0, end = text.size();
  while (begin < end && IsBlank(static_cast<unsigned char>(text[begin]))) ++begin;
  while (end > begin && IsBlank(static_cast<unsigned char>(text[end - 1]))) --end;
  return text.substr(begin, end - begin);
}

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
  std::string key = Trim(text);
  std::transform(key.begin(), key.end(), key.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  for (int i = 0; i < 12; ++i)
    if (key == months[i]) return i + 1;
  return 0;
}

std::string FormatBuildDate(const std::string& text) {
  std::string rest = Trim(text);
  std::string month = TwoDigits(std::to_string(MonthNumber(TakeWord(rest))));
  std::string day = TwoDigits(Trim(TakeWord(rest)));
  std::string year = Trim(rest);
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
  const std::string noData = Tr("Нет данных", "No data");
  std::int32_t at = FindText(bytes.data(), bytes.size(), DescriptionMarker);
  if (at < 0 || bytes.size() - static_cast<std::size_t>(at) < DescriptionBlockSize) return noData;
  const std::uint8_t* block = bytes.data() + at;
  std::string text = "File: \"" + name + "\"\r\n" + "Device Id: " + Field(block, 20, 6) + "\r\n" +
                     "Version Id: " + Field(block, 26, 3) + "." + Field(block, 29, 3) + "\r\n" +
                     "Date/Time: " + Field(block, 32, 12) + " " + Field(block, 44, 9);
  std::string comment = Field(block, 53, 30);
  if (!comment.empty()) text += "\r\nComment: " + comment;
  return Trim(text);
}
