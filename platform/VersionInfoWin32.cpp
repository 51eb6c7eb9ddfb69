// The version resource of a Windows executable, read with GetFileVersionInfoA and VerQueryValueA.
#include <windows.h>

#include <cstdio>
#include <vector>

#include "platform/VersionInfo.h"

namespace plat {

namespace {

// The text under the key, up to its terminating zero; empty when the key is absent.
std::string QueryText(std::vector<char>& block, const std::string& prefix, const char* key) {
  std::string path = prefix + key;
  char* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(block.data(), path.c_str(), reinterpret_cast<void**>(&value), &length) ||
      value == nullptr)
    return std::string();
  std::string text(value, length);
  std::size_t end = text.find('\0');
  return end == std::string::npos ? text : text.substr(0, end);
}

}  // namespace

bool ReadFileInfo(const std::string& fileName, TFileInfo& info) {
  bool result = false;
  info.FixedFound = false;
  info.Strings = TStringFileInfo{};
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeA(fileName.c_str(), &ignored);
  if (size > 0) {
    std::vector<char> block(size);
    if (GetFileVersionInfoA(fileName.c_str(), 0, size, block.data())) {
      VS_FIXEDFILEINFO* fixed = nullptr;
      UINT length = 0;
      if (VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length) &&
          fixed != nullptr && length >= sizeof(VS_FIXEDFILEINFO)) {
        info.Fixed.FileVersion[0] = HIWORD(fixed->dwFileVersionMS);
        info.Fixed.FileVersion[1] = LOWORD(fixed->dwFileVersionMS);
        info.Fixed.FileVersion[2] = HIWORD(fixed->dwFileVersionLS);
        info.Fixed.FileVersion[3] = LOWORD(fixed->dwFileVersionLS);
        info.Fixed.ProductVersion[0] = HIWORD(fixed->dwProductVersionMS);
        info.Fixed.ProductVersion[1] = LOWORD(fixed->dwProductVersionMS);
        info.Fixed.ProductVersion[2] = HIWORD(fixed->dwProductVersionLS);
        info.Fixed.ProductVersion[3] = LOWORD(fixed->dwProductVersionLS);
        info.Fixed.FileFlags = fixed->dwFileFlags;
        info.FixedFound = true;
      }
      WORD* translation = nullptr;
      if (VerQueryValueA(block.data(), "\\VarFileInfo\\Translation",
                         reinterpret_cast<void**>(&translation), &length) &&
          translation != nullptr && length >= 2 * sizeof(WORD)) {
        result = true;
        TStringFileInfo& s = info.Strings;
        s.Language = {translation[0], translation[1]};
        char prefix[40];
        std::snprintf(prefix, sizeof prefix, "\\StringFileInfo\\%.4x%.4x\\",
                      static_cast<unsigned>(translation[0]), static_cast<unsigned>(translation[1]));
        s.CompanyName = QueryText(block, prefix, "CompanyName");
        s.FileDescription = QueryText(block, prefix, "FileDescription");
        s.FileVersion = QueryText(block, prefix, "FileVersion");
        s.InternalName = QueryText(block, prefix, "InternalName");
        s.LegalCopyright = QueryText(block, prefix, "LegalCopyright");
        s.LegalTrademarks = QueryText(block, prefix, "LegalTrademarks");
        s.OriginalFilename = QueryText(block, prefix, "OriginalFilename");
        s.ProductName = QueryText(block, prefix, "ProductName");
        s.ProductVersion = QueryText(block, prefix, "ProductVersion");
        s.Comments = QueryText(block, prefix, "Comments");
        if (info.FixedFound) {
          if (info.Fixed.FileFlags & VersionFlagPrivateBuild)
            s.PrivateBuild = QueryText(block, prefix, "PrivateBuild");
          if (info.Fixed.FileFlags & VersionFlagSpecialBuild)
            s.SpecialBuild = QueryText(block, prefix, "SpecialBuild");
        }
      }
    }
  }
  info.Major = info.Fixed.FileVersion[0];
  info.Minor = info.Fixed.FileVersion[1];
  info.Release = info.Fixed.FileVersion[2];
  info.Build = info.Fixed.FileVersion[3];
  return result;
}

}  // namespace plat
