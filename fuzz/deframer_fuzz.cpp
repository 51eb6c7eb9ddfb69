// The de-framer on any byte stream cut into any chunks: no packet longer than its buffer, and a
// frame built by the framer comes back whole after whatever came before it.
#include <fuzzer/FuzzedDataProvider.h>

#include <vector>

#include "fuzz/FuzzCheck.h"
#include "transport/DleFraming.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  TDeframer deframer;
  std::vector<std::vector<std::uint8_t>> packets;
  auto collect = [&](const std::uint8_t* bytes, int length) {
    ZV_FUZZ_CHECK(length >= 0 && length <= PacketBufferSize);
    packets.emplace_back(bytes, bytes + length);
  };
  // A payload to frame, then the noisy stream in chunks.
  const std::vector<std::uint8_t> payload =
      input.ConsumeBytes<std::uint8_t>(input.ConsumeIntegralInRange<std::size_t>(1, 520));
  while (input.remaining_bytes() > 0) {
    const std::size_t chunk = input.ConsumeIntegralInRange<std::size_t>(1, 600);
    const std::vector<std::uint8_t> bytes = input.ConsumeBytes<std::uint8_t>(chunk);
    if (input.ConsumeBool()) deframer.Hunt();
    deframer.Feed(bytes.data(), static_cast<int>(bytes.size()), collect);
  }
  // After a clear, a built frame is found again exactly: a packet starts with any byte but
  // DLE, ETX and 0xFF (those keep the de-framer hunting).
  std::uint8_t frame[FrameBufferSize];
  const int length = BuildDleFrame(payload.data(), static_cast<int>(payload.size()), frame);
  if (length == 0 || payload.empty() || payload[0] == kDle || payload[0] == kEtx ||
      payload[0] == 0xFF)
    return 0;
  ZV_FUZZ_CHECK(length >= static_cast<int>(payload.size()) + 3);
  deframer.Clear();
  packets.clear();
  deframer.Feed(frame, length, collect);
  ZV_FUZZ_CHECK(packets.size() == 1);
  ZV_FUZZ_CHECK(packets[0] == payload);
  return 0;
}
