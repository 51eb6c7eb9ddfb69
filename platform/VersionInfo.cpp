#include "platform/VersionInfo.h"

#include <fstream>
#include <map>
#include <string_view>
#include <vector>

namespace plat {

namespace {

struct TReader {
  const std::vector<unsigned char>& bytes;
  std::size_t at;
  bool ok = true;

  std::uint16_t U16() {
    if (at + 2 > bytes.size()) return ok = false, 0;
    std::uint16_t v = static_cast<std::uint16_t>(bytes[at] | bytes[at + 1] << 8);
    at += 2;
    return v;
  }
  std::uint32_t U32() {
    std::uint32_t low = U16();
    return low | static_cast<std::uint32_t>(U16()) << 16;
  }
  std::string Text() {
    std::size_t end = at;
    while (end < bytes.size() && bytes[end] != 0) ++end;
    if (end >= bytes.size()) return ok = false, std::string();
    std::string text(bytes.begin() + static_cast<long>(at), bytes.begin() + static_cast<long>(end));
    at = end + 1;
    return text;
  }
};

}  // namespace

std::string VersionBlockMagic() {
  static const unsigned char masked[] = {0x25, 0x00, 0x0C, 0x62, 0x62, 0x6B, 0x6A, 0x77,
                                         0x0C, 0x1F, 0x08, 0x09, 0x13, 0x15, 0x14, 0x77,
                                         0x18, 0x16, 0x15, 0x19, 0x11, 0x5B};
  std::string magic;
  for (unsigned char b : masked) magic.push_back(static_cast<char>(b ^ 0x5A));
  return magic;
}

bool ReadFileInfo(const std::string& fileName, TFileInfo& info) {
  info.FixedFound = false;
  info.Strings = TStringFileInfo{};
  // The file is read in one call and searched with find: the window and the command line read
  // their own executable, which is many megabytes in a sanitizer build.
  std::vector<unsigned char> bytes;
  std::ifstream in(fileName, std::ios::binary | std::ios::ate);
  if (in) {
    const std::streamoff size = in.tellg();
    if (size > 0) {
      bytes.resize(static_cast<std::size_t>(size));
      in.seekg(0);
      in.read(reinterpret_cast<char*>(bytes.data()), size);
      bytes.resize(static_cast<std::size_t>(in.gcount()));
    }
  }
  const std::string magic = VersionBlockMagic();
  const std::size_t magicSize = magic.size();
  const std::string_view haystack(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  bool result = false;
  for (std::size_t i = haystack.find(magic); i != std::string_view::npos;
       i = haystack.find(magic, i + 1)) {
    TReader reader{bytes, i + magicSize};
    TFixedFileInfo fixed;
    for (auto& word : fixed.FileVersion) word = reader.U16();
    for (auto& word : fixed.ProductVersion) word = reader.U16();
    fixed.FileFlags = reader.U32();
    TLanguage language{reader.U16(), reader.U16()};
    std::uint16_t count = reader.U16();
    std::map<std::string, std::string> texts;
    for (std::uint16_t k = 0; k < count && reader.ok; ++k) {
      std::string key = reader.Text();
      texts[key] = reader.Text();
    }
    if (!reader.ok) continue;  // not a whole block: keep looking
    info.Fixed = fixed;
    info.FixedFound = true;
    if (language.LangId == 0 && language.CodePage == 0) break;  // no translation table
    result = true;
    TStringFileInfo& s = info.Strings;
    s.Language = language;
    auto get = [&](const char* key) {
      auto it = texts.find(key);
      return it == texts.end() ? std::string() : it->second;
    };
    s.CompanyName = get("CompanyName");
    s.FileDescription = get("FileDescription");
    s.FileVersion = get("FileVersion");
    s.InternalName = get("InternalName");
    s.LegalCopyright = get("LegalCopyright");
    s.LegalTrademarks = get("LegalTrademarks");
    s.OriginalFilename = get("OriginalFilename");
    s.ProductName = get("ProductName");
    s.ProductVersion = get("ProductVersion");
    s.Comments = get("Comments");
    if (fixed.FileFlags & VersionFlagPrivateBuild) s.PrivateBuild = get("PrivateBuild");
    if (fixed.FileFlags & VersionFlagSpecialBuild) s.SpecialBuild = get("SpecialBuild");
    break;
  }
  info.Major = info.Fixed.FileVersion[0];
  info.Minor = info.Fixed.FileVersion[1];
  info.Release = info.Fixed.FileVersion[2];
  info.Build = info.Fixed.FileVersion[3];
  return result;
}

}  // namespace plat
