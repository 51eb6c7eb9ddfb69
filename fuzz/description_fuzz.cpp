// The description block of a system file: any bytes give a text without a crash; "No data"
// exactly when no whole block follows the marker.
#include <string>
#include <vector>

#include "appdata/DMU.h"
#include "fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> bytes(data, data + size);
  IsRussian = size > 0 && (data[0] & 1);
  const std::string text = DescribeSystemFile(bytes, "fuzz.bin");
  const std::int32_t at = FindText(bytes.data(), bytes.size(), DescriptionMarker);
  const bool whole = at >= 0 && size - static_cast<std::size_t>(at) >= DescriptionBlockSize;
  ZV_FUZZ_CHECK(whole == (text.rfind("File: \"fuzz.bin\"\r\n", 0) == 0));
  if (whole) {
    ZV_FUZZ_CHECK(text.find("\r\nDevice Id: ") != std::string::npos);
    ZV_FUZZ_CHECK(text.size() < 200);
  }
  return 0;
}
