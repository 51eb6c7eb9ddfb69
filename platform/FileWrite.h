// Writing files whole, so that a failed write never leaves one cut.
#pragma once

#include <string>
#include <string_view>

namespace plat {

// Writes text as the file's whole content. An existing file is replaced by a complete new one
// (a failed write leaves the old file whole) that keeps its mode and owner; a symbolic link is
// written at its target. Where the folder takes no new file, the file is written in place. A
// read-only file, or one that is not a regular file, is left untouched: false.
bool WriteFileWhole(const std::string& path, const std::string& text);

// Writes bytes to path through a temporary file beside it, flushed to the disk before it takes
// the final name: the name holds either its old content or the whole new one (reports and
// backups). False with the system's reason; the temporary file is then gone.
bool WriteFileReplacing(const std::string& path, std::string_view bytes, std::string& reason);

}  // namespace plat
