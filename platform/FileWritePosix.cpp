#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "platform/FileWrite.h"

namespace plat {

namespace {

// The file a settings path names: a symbolic link is followed to its target (which need not
// exist yet), so that saving writes the file the link points at instead of replacing the link.
std::string LinkTarget(const std::string& path) {
  namespace fs = std::filesystem;
  fs::path current = path;
  std::error_code ec;
  for (int hops = 0; hops < 40 && fs::is_symlink(current, ec); ++hops) {
    fs::path to = fs::read_symlink(current, ec);
    if (ec) break;
    current = to.is_absolute() ? to : current.parent_path() / to;
  }
  return current.string();
}

bool WriteAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Overwrites (or creates) the file itself: for a folder that takes no new file, or a file whose
// owner a replacement could not keep.
bool WriteInPlace(const std::string& path, const std::string& text) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, text) && ::ftruncate(fd, static_cast<off_t>(text.size())) == 0 &&
            ::fsync(fd) == 0;
  return ::close(fd) == 0 && ok;
}

// Replaces the file by a complete new one, so that a failed write leaves the old file whole;
// the new file gets the old one's mode, owner and group. Returns false without touching the
// file when that cannot be done (inPlace then says whether writing in place is the way left).
bool WriteReplacing(const std::string& path, const struct stat& old, const std::string& text,
                    bool& inPlace) {
  inPlace = false;
  std::string temp = path + ".XXXXXX";
  int fd = ::mkstemp(temp.data());
  if (fd < 0) {
    inPlace = errno == EACCES || errno == EPERM || errno == EROFS;
    return false;
  }
  bool ok = ::fchmod(fd, old.st_mode & 07777) == 0;
  if (ok && (old.st_uid != ::geteuid() || old.st_gid != ::getegid()) &&
      ::fchown(fd, old.st_uid, old.st_gid) != 0) {
    ::close(fd);
    ::unlink(temp.c_str());
    inPlace = true;  // only the file itself keeps another user's ownership
    return false;
  }
  ok = ok && WriteAll(fd, text) && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  if (ok && ::rename(temp.c_str(), path.c_str()) == 0) return true;
  ::unlink(temp.c_str());
  return false;
}

}  // namespace

bool WriteFileWhole(const std::string& settingsPath, const std::string& text) {
  const std::string path = LinkTarget(settingsPath);
  struct stat old {};
  if (::stat(path.c_str(), &old) != 0) {
    if (errno != ENOENT) return false;
    return WriteInPlace(path, text);  // a new file: there is nothing to keep whole
  }
  if (!S_ISREG(old.st_mode)) return false;
  // A read-only settings file stays untouched.
  if ((old.st_mode & 0222) == 0 || ::access(path.c_str(), W_OK) != 0) return false;
  bool inPlace = false;
  if (WriteReplacing(path, old, text, inPlace)) return true;
  return inPlace && WriteInPlace(path, text);
}

}  // namespace plat
