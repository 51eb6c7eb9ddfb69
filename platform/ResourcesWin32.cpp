// The program's embedded files on Windows: resources of the executable (compiled by windres from
// the build's generated .rc), found by type and name with FindResourceA.
#include <windows.h>

#include <map>
#include <mutex>
#include <utility>

// <windows.h> names FindResource as a macro; the platform function of that name is meant here.
#undef FindResource

#include "platform/Resources.h"

namespace plat {

namespace {

struct TFound {
  std::string type, name;
  TResourceEntry entry{};
};

}  // namespace

const TResourceEntry* FindResource(const std::string& type, const std::string& name) {
  static std::mutex lock;
  static std::map<std::pair<std::string, std::string>, TFound> found;
  std::lock_guard<std::mutex> guard(lock);
  auto key = std::make_pair(type, name);
  auto it = found.find(key);
  if (it != found.end()) return &it->second.entry;
  HRSRC resource = FindResourceA(nullptr, name.c_str(), type.c_str());
  // A real bitmap resource (the logos): its data is the bitmap without its file header.
  if (resource == nullptr && type == "BITMAP")
    resource = FindResourceA(nullptr, name.c_str(), MAKEINTRESOURCEA(2));  // RT_BITMAP
  // A type that is a keyword of resource scripts (BITMAP) is compiled in as ZV_<type>.
  if (resource == nullptr) resource = FindResourceA(nullptr, name.c_str(), ("ZV_" + type).c_str());
  if (resource == nullptr) return nullptr;
  HGLOBAL loaded = LoadResource(nullptr, resource);
  const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
  if (data == nullptr) return nullptr;
  // A loaded resource stays mapped for the life of the module: the entry may point into it.
  TFound& entry = found[key];
  entry.type = type;
  entry.name = name;
  entry.entry = {entry.type.c_str(), entry.name.c_str(), static_cast<const unsigned char*>(data),
                 SizeofResource(nullptr, resource)};
  return &entry.entry;
}

}  // namespace plat
