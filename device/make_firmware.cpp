// zv8810-mkfw: writes a sample system file with a description block, for the demo and tests.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <string>

#include "device/FlashContents.h"

namespace {

const char* kUsage =
    "usage: zv8810-mkfw OUT.bin [--size N] [--version 3.07] [--date 'Nov 26 2009']\n"
    "                   [--time 14:02:33] [--comment TEXT] [--seed N]\n"
    "                   [--block-offset N] [--no-block]\n"
    "\n"
    "  --size N          bytes of the file, 0 to 16777216 (default 204800)\n"
    "  --version M.m     the block's version, up to 3 characters each side of the dot\n"
    "  --date TEXT       the block's build date, up to 12 characters\n"
    "  --time TEXT       the block's build time, up to 9 characters\n"
    "  --comment TEXT    the block's comment, up to 30 characters\n"
    "  --seed N          varies the code-like bytes, 0 to 4294967295\n"
    "  --block-offset N  where the description block lies (default 512)\n"
    "  --no-block        leave the description block out\n";

constexpr unsigned long MaxSize = 16UL * 1024 * 1024;

int Usage(const std::string& error) {
  std::fprintf(stderr, "zv8810-mkfw: %s\n\n%s", error.c_str(), kUsage);
  return 64;
}

// Decimal digits only, from 0 to max.
bool Unsigned(const std::string& text, unsigned long max, std::uint32_t& value) {
  if (text.empty() || text[0] < '0' || text[0] > '9') return false;
  char* end = nullptr;
  errno = 0;
  const unsigned long long parsed = std::strtoull(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || parsed > max) return false;
  value = static_cast<std::uint32_t>(parsed);
  return true;
}

int Run(int argc, char** argv) {
  sim::TFirmwareSpec spec;
  std::string out;
  bool block = true;
  bool offsetGiven = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::printf("%s", kUsage);
      return 0;
    }
    if (arg == "--no-block") {
      block = false;
      continue;
    }
    if (arg.empty() || arg[0] != '-') {
      if (!out.empty()) return Usage("one output file only (" + out + " and " + arg + ")");
      out = arg;
      continue;
    }
    if (i + 1 >= argc) return Usage(arg + " takes a value");
    const std::string value = argv[++i];
    // A text field of the description block: refused when it would be cut short.
    auto text = [&](std::string& field, std::size_t width) {
      if (value.size() > width) return false;
      field = value;
      return true;
    };
    if (arg == "--size") {
      if (!Unsigned(value, MaxSize, spec.Size))
        return Usage("--size takes a number of bytes from 0 to " + std::to_string(MaxSize));
    } else if (arg == "--version") {
      const std::size_t dot = value.find('.');
      const std::string major = value.substr(0, dot);
      const std::string minor = dot == std::string::npos ? "" : value.substr(dot + 1);
      if (major.empty() || major.size() > 3 || minor.size() > 3)
        return Usage("--version takes M.m, up to 3 characters each side of the dot");
      spec.Major = major;
      spec.Minor = minor;
    } else if (arg == "--date") {
      if (!text(spec.Date, 12)) return Usage("--date holds at most 12 characters");
    } else if (arg == "--time") {
      if (!text(spec.Time, 9)) return Usage("--time holds at most 9 characters");
    } else if (arg == "--comment") {
      if (!text(spec.Comment, 30)) return Usage("--comment holds at most 30 characters");
    } else if (arg == "--seed") {
      if (!Unsigned(value, 0xFFFFFFFFUL, spec.Seed))
        return Usage("--seed takes a number from 0 to 4294967295");
    } else if (arg == "--block-offset") {
      if (!Unsigned(value, MaxSize, spec.BlockOffset))
        return Usage("--block-offset takes a number of bytes from 0 to " + std::to_string(MaxSize));
      offsetGiven = true;
    } else {
      return Usage("unknown option " + arg);
    }
  }
  if (out.empty()) return Usage("name the file to write");
  if (offsetGiven && block && spec.BlockOffset + 93 > spec.Size)
    return Usage("the description block (93 bytes) at " + std::to_string(spec.BlockOffset) +
                 " does not fit a file of " + std::to_string(spec.Size) + " bytes");
  struct stat st {};
  if (::stat(out.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    std::fprintf(stderr, "zv8810-mkfw: %s is a folder; name a file\n", out.c_str());
    return 73;
  }
  if (!block) spec.BlockOffset = spec.Size;  // no room: no block
  std::vector<std::uint8_t> file = sim::MakeSystemFile(spec);
  std::ofstream o(out, std::ios::binary | std::ios::trunc);
  o.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
  o.close();
  if (!o) {
    std::fprintf(stderr, "zv8810-mkfw: cannot write %s: %s\n", out.c_str(), std::strerror(errno));
    return 73;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zv8810-mkfw: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "zv8810-mkfw: an unexpected error\n");
  }
  return 70;
}
