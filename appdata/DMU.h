// The data module: settings, the system file and resident image in memory with their sums, the
// description block of a system file, and the texts of result codes. No Qt in here.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "appdata/Language.h"

struct TSets {
  std::string ComPort;
  std::string ComRate = "115200";
  std::string Protocol = "NMEA";
  std::string SystemFile;
  std::int32_t ResetType = 1;  // 0 Auto, 1 Manual
  std::int32_t Lang = 0;       // 0 English, 1 Russian
};

extern TSets Sets;
extern std::string ExePath;  // the executable's directory with its trailing separator
extern std::string IniName;  // the executable's name with ".ini"

// The images the programming thread sends, replaced by each load.
extern std::vector<std::uint8_t> SystemImage;  // 8-byte header (size, sum) + the file
extern std::uint32_t SystemSize;
extern std::uint32_t SystemSum;
extern std::uint32_t SystemImageSum;
extern std::vector<std::uint8_t> ResidentImage;
extern std::uint32_t ResidentSize;
extern std::uint32_t ResidentSum;

// The most a system file can hold: the receiver's firmware area (0xF0000 bytes) less the 8-byte
// header of the image. A longer file is refused by the resident (ECh) when it is written.
constexpr std::uint32_t SystemFileLimit = 0xF0000 - 8;

// The bit rates the window offers for the working protocol.
inline constexpr std::int32_t OfferedRates[] = {4800, 9600, 19200, 38400, 57600, 115200, 230400};

// How the last LoadSystemFile ended.
enum class TSystemFileLoad { Loaded, NotFound, Folder, Empty, TooLarge, Unreadable };

constexpr int DescriptionBlockSize = 93;
constexpr const char* DescriptionMarker = "=== Device ID";

// The settings file could not be written at start-up: an unexpected failure.
class TSettingsWriteError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The folder (with its trailing separator) of the settings file iniName: exeFolder where the
// program can write the file there, otherwise userFolder. Folders of installed programs (/usr,
// Program Files) are never written into, even by an administrator's run.
std::string SettingsFolderFor(const std::string& exeFolder, const std::string& iniName,
                              const std::string& userFolder);

class TDM {
 public:
  // Fixes ExePath and IniName from the running executable, and the settings file's folder:
  // beside the executable, or the user's configuration folder (SettingsFolderFor).
  TDM();
  // For tests: the settings live in folder (with its trailing separator) under iniName.
  TDM(std::string folder, std::string iniName);

  std::string SettingsPath() const { return settingsFolder_ + IniName; }
  // Fills Sets and IsRussian; creates or repairs the file. Throws TSettingsWriteError when the
  // file must be written and cannot be.
  void LoadSettings();
  // Writes Sets into the file; shows "Settings file not saved!" on failure.
  bool SaveSettings();

  // Reads the system file into SystemImage; on failure shows why and keeps the earlier load.
  // An empty file is refused: writing it would erase the receiver's firmware for nothing.
  bool LoadSystemFile(const std::string& path);
  TSystemFileLoad LastSystemFileLoad() const { return lastSystemFileLoad_; }
  bool LoadResident();
  std::string GetFileDescription(const std::string& path) const;
  std::string ResultText(std::int32_t code) const;

 private:
  TSystemFileLoad lastSystemFileLoad_ = TSystemFileLoad::NotFound;
  std::string settingsFolder_;  // with its trailing separator
};

// The program's start-up of the data module: settings read, an unwritable file reported through
// the general handler and start-up going on with the values in memory.
void CreateDataModule(TDM& dm);

// The description text of a system file's bytes ("No data" without a whole block); name is the
// file's name as shown.
std::string DescribeSystemFile(const std::vector<std::uint8_t>& bytes, const std::string& name);
std::string FormatBuildDate(const std::string& text);
int MonthNumber(const std::string& text);
// Index of the first byte of Text in bytes (one forward pass that never steps back), or -1.
std::int32_t FindText(const std::uint8_t* bytes, std::size_t count, const std::string& text);
std::uint32_t ByteSum(const std::uint8_t* bytes, std::size_t count);
