// The system write: 1,028-byte frames with their sums, the check word, and the restart.
#include <algorithm>

#include "appdata/Language.h"
#include "programmer/SystemWriteThrU.h"

namespace {
// The percentage as shown: the integer part, never above 100 (the step is computed from the
// image's length in kilobytes, so a last partial frame would overshoot).
std::string Percentage(float percent) {
  return std::to_string(std::min(100, static_cast<int>(percent))) + "%";
}
}  // namespace

std::int32_t TSystemWriteThr::WriteSystem() {
  const std::vector<std::uint8_t>& image = job_->Images.SystemImage;
  const std::size_t length = image.size();
  const float step = static_cast<float>(100.0 / (static_cast<double>(length) / 1024.0));
  float percent = 0;
  StageLine(Tr("Запись системы", "Programming"), Percentage(percent));
  for (std::size_t position = 0; position < length; position += FrameDataSize) {
    std::uint8_t reply = 0;
    const TLinkWait written = link_.WriteFrame(
        image.data() + position, std::min(FrameDataSize, length - position), reply, [&] {
          percent += step;
          StageLine("", Percentage(percent));
        });
    if (auto code =
            Unanswered(written, ResultWrite, Tr("ошибка (нет ответа)", "Error: not answer")))
      return *code;
    if (reply == BootByte::LastFrame) break;  // the resident has every announced byte
    if (reply != BootByte::Accepted) {
      StageLine("", RefusalStatus(reply));
      return ResultWrite;
    }
  }
  std::uint8_t reply = 0;  // no reply counts as the byte 0
  const TLinkWait checked = link_.SendCheckWord(job_->Images.SystemImageSum, reply, [this] {
    StageLine("", Tr("проверка КС", "CRC checking"));
  });
  if (checked == TLinkWait::Stopped) return Interrupted(ResultWrite);
  if (reply != BootByte::CheckWordMatches) {
    StageLine("", RefusalStatus(reply));
    return ResultWrite;
  }
  StageLine("", Tr("выполнено", "done"));
  return ResultSuccess;
}

std::int32_t TSystemWriteThr::RestartSystem() {
  link_.Restart();
  StageLine(Tr("Запуск системы", "System restarting"), Tr("выполнено", "done"));
  return ResultSuccess;
}
