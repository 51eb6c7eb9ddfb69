// Every test process gets its own alias folder, so parallel tests never see each other's ports.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/TestSupport.h"

int main(int argc, char** argv) {
  setenv("XDG_DATA_HOME", TempDir().c_str(), 1);
  ::testing::InitGoogleTest(&argc, argv);
  int result = RUN_ALL_TESTS();
  std::string cleanup = "rm -rf '" + TempDir() + "'";
  if (std::system(cleanup.c_str()) != 0) return result;
  return result;
}
