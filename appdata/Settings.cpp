// The settings file: Key=Value lines without sections, beside the executable or in the user's
// configuration folder (SettingsLocation.cpp).
//
// "ResetType" and "Lang" accept a decimal integer: optional blanks around it, an optional sign,
// then digits, within the 32-bit range ("1", " 1 ", "+1", "-3"). Anything else ("", "1x", "0x1",
// "1.0") is a conversion error.
#include <strings.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "appdata/DMU.h"
#include "appdata/MessageSink.h"
#include "platform/ExecutablePath.h"
#include "platform/FileWrite.h"
#include "platform/UserFolders.h"

TSets Sets;
std::string ExePath;
std::string IniName;

namespace {

using TLines = std::vector<std::string>;

// Lines end in CR LF, LF or a lone CR; a last line without an end counts too.
bool ReadLines(const std::string& path, TLines& lines) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::stringstream content;
  content << in.rdbuf();
  if (in.bad()) return false;
  lines.clear();
  const std::string text = content.str();
  std::string line;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c != '\r' && c != '\n') {
      line += c;
      continue;
    }
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    lines.push_back(line);
    line.clear();
  }
  if (!line.empty()) lines.push_back(line);
  return true;
}

bool WriteLines(const std::string& path, const TLines& lines) {
  // The user's configuration folder may not exist yet.
  const std::filesystem::path folder = std::filesystem::path(path).parent_path();
  std::error_code ec;
  if (!folder.empty()) std::filesystem::create_directories(folder, ec);
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return plat::WriteFileWhole(path, text);
}

// The line holding the key: the text before its first "=" equals the key, letter case ignored.
int FindKey(const TLines& lines, const char* key) {
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::size_t eq = lines[i].find('=');
    if (eq != std::string::npos && strcasecmp(lines[i].substr(0, eq).c_str(), key) == 0)
      return static_cast<int>(i);
  }
  return -1;
}

std::string ValueOf(const TLines& lines, const char* key) {
  int i = FindKey(lines, key);
  return i < 0 ? std::string()
               : lines[static_cast<std::size_t>(i)].substr(
                     lines[static_cast<std::size_t>(i)].find('=') + 1);
}

bool ToInteger(const std::string& text, std::int32_t& value) {
  std::size_t begin = text.find_first_not_of(" \t");
  std::size_t end = text.find_last_not_of(" \t");
  if (begin == std::string::npos) return false;
  std::string digits = text.substr(begin, end - begin + 1);
  std::size_t first = (digits[0] == '+' || digits[0] == '-') ? 1 : 0;
  if (first == digits.size()) return false;
  for (std::size_t i = first; i < digits.size(); ++i)
    if (digits[i] < '0' || digits[i] > '9') return false;
  errno = 0;
  long long parsed = std::strtoll(digits.c_str(), nullptr, 10);
  if (errno != 0 || parsed < INT32_MIN || parsed > INT32_MAX) return false;
  value = static_cast<std::int32_t>(parsed);
  return true;
}

void SetValue(TLines& lines, const char* key, const std::string& value) {
  int i = FindKey(lines, key);
  if (value.empty()) {
    // Every line of the key goes: a later duplicate would otherwise be read back in its place.
    for (; i >= 0; i = FindKey(lines, key)) lines.erase(lines.begin() + i);
    return;
  }
  std::string line = std::string(key) + "=" + value;
  if (i >= 0)
    lines[static_cast<std::size_t>(i)] = line;
  else
    lines.push_back(line);
}

// Sets the six keys, in this order, to the current values of Sets.
void ApplyValues(TLines& lines) {
  SetValue(lines, "ComPort", Sets.ComPort);
  SetValue(lines, "ComRate", Sets.ComRate);
  SetValue(lines, "SystemFile", Sets.SystemFile);
  SetValue(lines, "Protocol", Sets.Protocol);
  SetValue(lines, "ResetType", std::to_string(Sets.ResetType));
  SetValue(lines, "Lang", std::to_string(Sets.Lang));
}

TLines CurrentValues() {
  TLines lines;
  ApplyValues(lines);
  return lines;
}

}  // namespace

TDM::TDM() {
  std::filesystem::path exe = plat::ExecutablePath();
  ExePath = exe.parent_path().string() + "/";
  IniName = exe.stem().string() + ".ini";
  settingsFolder_ = SettingsFolderFor(ExePath, IniName, plat::UserConfigFolder());
}

TDM::TDM(std::string folder, std::string iniName) {
  ExePath = std::move(folder);
  IniName = std::move(iniName);
  settingsFolder_ = ExePath;
}

void TDM::LoadSettings() {
  Sets = TSets{};
  TLines lines;
  bool complete = false;
  if (ReadLines(SettingsPath(), lines)) {
    Sets.ComPort = ValueOf(lines, "ComPort");
    Sets.ComRate = ValueOf(lines, "ComRate");
    Sets.SystemFile = ValueOf(lines, "SystemFile");
    Sets.Protocol = ValueOf(lines, "Protocol");
    complete = ToInteger(ValueOf(lines, "ResetType"), Sets.ResetType) &&
               ToInteger(ValueOf(lines, "Lang"), Sets.Lang);
  }
  if (!complete && !WriteLines(SettingsPath(), CurrentValues()))
    throw TSettingsWriteError("the settings file " + SettingsPath() + " cannot be written");
  IsRussian = Sets.Lang == 1;
}

bool TDM::SaveSettings() {
  TLines lines;
  bool saved = ReadLines(SettingsPath(), lines);
  if (saved) {
    ApplyValues(lines);
    saved = WriteLines(SettingsPath(), lines);
  }
  if (!saved) ShowMessage(Tr("Ошибка сохранения настроек!", "Settings file not saved!"));
  return saved;
}

void CreateDataModule(TDM& dm) {
  try {
    dm.LoadSettings();
  } catch (const std::exception& failure) {
    ReportUnexpectedFailure(failure.what());
  }
}
