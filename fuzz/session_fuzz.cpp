// The session's packet dispatch: whatever packets a ZORP receiver sends, in whatever order, the
// session handles them without a crash, and the identity it keeps is what the last whole
// identity packet said.
#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz/FuzzCheck.h"
#include "receiver/NavReceiverExU.h"
#include "transport/DleFraming.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  TNavReceiver session;
  // The port stays closed: replies go nowhere, and the time-out never fires during the input.
  session.SetTimeout(1000000000);
  TDeframer deframer;
  auto deliver = [&](const std::uint8_t* bytes, int length) {
    session.Port().OnPacket(bytes, length);
  };
  while (input.remaining_bytes() > 0) {
    if (input.ConsumeBool()) {
      // A packet as the de-framer hands it over (at most its buffer).
      const std::vector<std::uint8_t> packet = input.ConsumeBytes<std::uint8_t>(
          input.ConsumeIntegralInRange<std::size_t>(0, PacketBufferSize));
      deliver(packet.data(), static_cast<int>(packet.size()));
    } else {
      // Raw line bytes through the de-framer.
      const std::vector<std::uint8_t> bytes =
          input.ConsumeBytes<std::uint8_t>(input.ConsumeIntegralInRange<std::size_t>(1, 700));
      deframer.Feed(bytes.data(), static_cast<int>(bytes.size()), deliver);
    }
  }
  const TReceiverProperties properties = session.GetProperties();
  ZV_FUZZ_CHECK(properties.ModuleNumber.size() <= 32);
  ZV_FUZZ_CHECK(properties.ProductionDate.size() <= 32);
  ZV_FUZZ_CHECK(properties.ModuleId.size() <= 32);
  ZV_FUZZ_CHECK(properties.DeviceId.size() <= 21);
  ZV_FUZZ_CHECK(properties.ReportedValue == 0 || properties.ReportedValue == NoReportedValue ||
                (properties.ReportedValue >= -32768 && properties.ReportedValue <= 32767));
  ZV_FUZZ_CHECK(session.TestCount() >= 0);
  return 0;
}
