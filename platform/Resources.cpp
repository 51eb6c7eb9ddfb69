#include "platform/Resources.h"

namespace plat {

const TResourceEntry* FindResource(const std::string& type, const std::string& name) {
  for (std::size_t i = 0; i < ResourceCount; ++i)
    if (type == ResourceTable[i].Type && name == ResourceTable[i].Name) return &ResourceTable[i];
  return nullptr;
}

}  // namespace plat
