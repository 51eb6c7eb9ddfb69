// The program's version data, written at build time into a block inside the executable, and
// the reader that finds such a block in any file it is given (a file without one yields no
// version). The block starts with the magic text "\x7fZV8810-VERSION-BLOCK\x01", then:
//   u16 file version words (major, minor, release, build), u16 product version words,
//   u32 file flags, u16 language, u16 code page, u16 count of texts,
//   then count pairs of zero-terminated key and value texts.
#pragma once

#include <cstdint>
#include <string>

namespace plat {

// The magic text, each byte exclusive-or 0x5A: the reader's own copy never passes for a block.
std::string VersionBlockMagic();
constexpr std::uint32_t VersionFlagPrivateBuild = 0x08;
constexpr std::uint32_t VersionFlagSpecialBuild = 0x20;

struct TFixedFileInfo {
  std::uint16_t FileVersion[4] = {};
  std::uint16_t ProductVersion[4] = {};
  std::uint32_t FileFlags = 0;
};

struct TLanguage {
  std::uint16_t LangId = 0;
  std::uint16_t CodePage = 0;
};

struct TStringFileInfo {
  TLanguage Language;
  std::string CompanyName, FileDescription, FileVersion, InternalName, LegalCopyright,
      LegalTrademarks, OriginalFilename, ProductName, ProductVersion, Comments, PrivateBuild,
      SpecialBuild;
};

struct TFileInfo {
  bool FixedFound = false;
  TFixedFileInfo Fixed;
  std::uint16_t Major = 0, Minor = 0, Release = 0, Build = 0;
  TStringFileInfo Strings;
};

// True when the file's version block has a translation, whose texts were then read.
bool ReadFileInfo(const std::string& fileName, TFileInfo& info);

// The block of this program (linked in by the programs that carry one); empty when absent.
extern const unsigned char* const ProgramVersionBlock;
extern const std::size_t ProgramVersionBlockSize;

}  // namespace plat
