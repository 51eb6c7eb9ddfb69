// The NMEA answer matching of the port: fed any text in any chunks, the awaited answer is
// reported exactly once, in the chunk where it first becomes complete, and never before.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>

#include "fuzz/FuzzCheck.h"
#include "transport/PortIOUEx.h"

// The test seam of the port: its reader's handling of one received chunk.
struct TPortIOSeam {
  static void Received(TPortIO& port, const std::uint8_t* bytes, int count) {
    port.ProcessChunk(bytes, count);
  }
};

namespace {

struct TAnswers {
  int count = 0;
  void Answer(const std::uint8_t*, int, const std::string&) { ++count; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  // One port for every input (making one costs far more than an input): awaiting nothing empties
  // what it kept for matching, so no input sees another's text.
  static TPortIO port;
  static TAnswers answers;
  static const bool bound = (port.OnAnswer.Bind<&TAnswers::Answer>(&answers), true);
  (void)bound;
  port.ExpectAnswer("");
  answers.count = 0;
  // Mostly the session's own answer; sometimes another short text.
  std::string expected = input.ConsumeBool() ? "$PORZE," : input.ConsumeRandomLengthString(12);
  if (expected.empty()) expected = "$PORZE,";
  // Text before the answer is awaited does not count.
  const std::string before = input.ConsumeRandomLengthString(64);
  TPortIOSeam::Received(port, reinterpret_cast<const std::uint8_t*>(before.data()),
                        static_cast<int>(before.size()));
  ZV_FUZZ_CHECK(answers.count == 0);
  port.ExpectAnswer(expected);
  std::string fed;
  bool found = false;
  while (input.remaining_bytes() > 0) {
    const std::string chunk =
        input.ConsumeBytesAsString(input.ConsumeIntegralInRange<std::size_t>(1, 300));
    fed += chunk;
    TPortIOSeam::Received(port, reinterpret_cast<const std::uint8_t*>(chunk.data()),
                          static_cast<int>(chunk.size()));
    const bool complete = fed.find(expected) != std::string::npos;
    ZV_FUZZ_CHECK(answers.count == (complete ? 1 : 0));
    if (complete && !found) {
      found = true;
      ZV_FUZZ_CHECK(port.AnswerEvent.Wait(0));
    }
  }
  return 0;
}
