// Every test process gets its own alias folder, so parallel tests never see each other's ports.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/TestSupport.h"

int main(int argc, char** argv) {
#ifndef _WIN32  // Windows has no aliases: its COM names come from the registry
  setenv("XDG_DATA_HOME", TempDir().c_str(), 1);
#endif
  ::testing::InitGoogleTest(&argc, argv);
  int result = RUN_ALL_TESTS();
  std::error_code ec;
  std::filesystem::remove_all(TempDir(), ec);
  return result;
}
