// The data module: settings, the system file and resident image in memory with their sums, the
// description block of a system file, and the texts of result codes. No Qt in here.
#pragma once

#include <cstdint>
#include <memory>
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

// What the programming thread sends: the system image (8-byte header and the file) and the
// resident, with their 32-bit byte sums. One value per start, shared by every port's job.
struct TJobImages {
  std::vector<std::uint8_t> SystemImage;  // 8-byte header (size, sum) + the file
  std::uint32_t SystemImageSum = 0;       // the byte sum of the header and the file
  std::vector<std::uint8_t> ResidentImage;
  std::uint32_t ResidentSize = 0;
  std::uint32_t ResidentSum = 0;
};

// The receiver's firmware area: 0xF0000 bytes from 0x01010000.
constexpr std::uint32_t FirmwareAreaSize = 0xF0000;
// The most a system file can hold: the firmware area less the 8-byte header of the image. A
// longer file is refused by the resident (ECh) when it is written.
constexpr std::uint32_t SystemFileLimit = FirmwareAreaSize - 8;

// The bit rates the window offers for the working protocol.
inline constexpr std::int32_t OfferedRates[] = {4800, 9600, 19200, 38400, 57600, 115200, 230400};

// How reading a system file ended.
enum class TSystemFileLoad { Loaded, NotFound, Folder, Empty, TooLarge, Unreadable };

// A start's images as LoadImages read them.
struct TImagesLoad {
  // Everything asked for, or null when something could not be read.
  std::shared_ptr<const TJobImages> Images;
  bool ResidentFound = false;  // the resident image is in the program
  bool PathGiven = true;       // false: a system file was asked for and the path is empty
  TSystemFileLoad SystemFile = TSystemFileLoad::Loaded;
  std::string Refusal;  // why the system file was refused (a message of its own), or empty
};

// The description block of a system file (and of the firmware in the receiver): found by its
// marker, 93 bytes of fixed fields, each up to its first zero byte.
constexpr int DescriptionBlockSize = 93;
constexpr const char* DescriptionMarker = "=== Device ID";
struct TDescriptionFields {
  std::string Device;   // 6 bytes from 20
  std::string Major;    // 3 bytes from 26
  std::string Minor;    // 3 bytes from 29
  std::string Date;     // 12 bytes from 32 ("Dec 10 2026")
  std::string Time;     // 9 bytes from 44
  std::string Comment;  // 30 bytes from 53
};
// The fields of the block that starts at block (DescriptionBlockSize bytes at least).
TDescriptionFields DescriptionFieldsOf(const std::uint8_t* block);
// The fields of the first whole block in bytes; false when there is none.
bool FindDescriptionFields(const std::uint8_t* bytes, std::size_t count,
                           TDescriptionFields& fields);
// The text without blanks and control characters at either end.
std::string TrimBlanks(const std::string& text);

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

  // The images of one start: the resident from the program, then (withSystemFile) the system
  // file. Shows nothing: a refusal's text comes back in the result.
  TImagesLoad LoadImages(const std::string& systemFile, bool withSystemFile) const;
  std::string GetFileDescription(const std::string& path) const;
  std::string ResultText(std::int32_t code) const;

 private:
  std::string settingsFolder_;  // with its trailing separator
};

// Reads a system file into image (8-byte header of size and sum, then the file) and its byte
// sum; on failure gives why and the operator's message, and leaves image as it was. An empty file
// is refused: writing it would erase the receiver's firmware for nothing.
TSystemFileLoad ReadSystemFile(const std::string& path, std::vector<std::uint8_t>& image,
                               std::uint32_t& imageSum, std::string& refusal);
// The resident image from the program's resources, or false when it is not there.
bool ReadResident(TJobImages& images);

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
