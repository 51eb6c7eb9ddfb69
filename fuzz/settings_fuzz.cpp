// The settings file parser: any file content is read without a crash, and what it yields
// survives a save and a second read unchanged.
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "appdata/DMU.h"
#include "appdata/MessageSink.h"
#include "fuzz/FuzzCheck.h"

namespace {

struct TQuiet : TMessageSink {
  TMessageAnswer Show(const TMessage&) override { return TMessageAnswer::Ok; }
};

std::string Folder() {
  static const std::string folder = [] {
    // In memory where the system has it: the file is written and read three times an input.
    const bool shm = ::access("/dev/shm", W_OK) == 0;
    std::string pattern = std::string(shm ? "/dev/shm" : "/tmp") + "/zv-fuzz-settings-XXXXXX";
    const char* made = ::mkdtemp(pattern.data());
    return std::string(made ? made : "/tmp") + "/";
  }();
  return folder;
}

bool Same(const TSets& a, const TSets& b) {
  return a.ComPort == b.ComPort && a.ComRate == b.ComRate && a.SystemFile == b.SystemFile &&
         a.Protocol == b.Protocol && a.ResetType == b.ResetType && a.Lang == b.Lang;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static TQuiet quiet;
  SetMessageSink(&quiet);
  TDM dm(Folder(), "fuzz.ini");
  {
    std::ofstream out(dm.SettingsPath(), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  try {
    dm.LoadSettings();
  } catch (const TSettingsWriteError&) {
    return 0;  // the folder went away: nothing to check
  }
  ZV_FUZZ_CHECK(IsRussian == (Sets.Lang == 1));
  const TSets first = Sets;
  ZV_FUZZ_CHECK(dm.SaveSettings());
  dm.LoadSettings();
  ZV_FUZZ_CHECK(Same(first, Sets));
  return 0;
}
