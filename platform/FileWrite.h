// Writing a small file whole (the settings file), so that a failed write never leaves it cut.
#pragma once

#include <string>

namespace plat {

// Writes text as the file's whole content. An existing file is replaced by a complete new one
// (a failed write leaves the old file whole) that keeps its mode and owner; a symbolic link is
// written at its target. Where the folder takes no new file, the file is written in place. A
// read-only file, or one that is not a regular file, is left untouched: false.
bool WriteFileWhole(const std::string& path, const std::string& text);

}  // namespace plat
