// The simulator's parsers on any line input: the working firmware's NMEA sentences and ZORP
// packets, its frame collector and the bootloader's upload. No crash, bounded packets, and a
// framed packet comes back whole after any noise.
#include <fuzzer/FuzzedDataProvider.h>

#include "device/Bootloader.h"
#include "device/SimFraming.h"
#include "device/WorkingFirmware.h"
#include "fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const sim::TFaults faults;
  int restarts = 0;
  std::size_t sent = 0;
  sim::TWorkingFirmware firmware(
      input.ConsumeBool(), faults,
      sim::TWorkingFirmware::THooks{[&](const sim::Bytes& b) { sent += b.size(); },
                                    [&] { ++restarts; }, [] { return sim::UtcTime{}; }});
  firmware.Reset();
  std::vector<sim::Bytes> packets;
  sim::TZorpCollector collector([&](const sim::Bytes& p) { packets.push_back(p); });
  sim::TUploadReceiver upload(64 * 1024);
  const sim::Bytes packet =
      input.ConsumeBytes<std::uint8_t>(input.ConsumeIntegralInRange<std::size_t>(1, 1100));
  while (input.remaining_bytes() > 0) {
    const sim::Bytes chunk =
        input.ConsumeBytes<std::uint8_t>(input.ConsumeIntegralInRange<std::size_t>(1, 400));
    firmware.Receive(chunk);
    for (std::uint8_t b : chunk) {
      collector.Push(b);
      if (upload.Push(b) != sim::TUploadReceiver::TResult::More) upload.Reset();
    }
    if (input.ConsumeBool()) firmware.StreamTick();
  }
  ZV_FUZZ_CHECK(restarts <= 1);
  for (const sim::Bytes& p : packets) ZV_FUZZ_CHECK(!p.empty() && p.size() <= 1024);
  // After any noise and a frame's end, a whole frame is collected again.
  if (packet.empty() || packet.size() > 1024) return 0;
  packets.clear();
  collector.Reset();
  for (std::uint8_t b : sim::FrameZorp(packet)) collector.Push(b);
  if (packet[0] == 0x10 || packet[0] == 0x03) return 0;  // no packet starts with DLE or ETX
  ZV_FUZZ_CHECK(packets.size() == 1 && packets[0] == packet);
  return 0;
}
