// The system write: 1,028-byte frames with their sums, the check word, and the restart.
#include <algorithm>
#include <chrono>
#include <thread>

#include "appdata/Language.h"
#include "programmer/SystemWriteThrU.h"

namespace {
constexpr std::size_t FrameData = 1024;

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
  std::uint8_t frame[FrameData + 4];
  for (std::size_t position = 0; position < length;) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < FrameData; ++i, ++position) {
      frame[i] = position < length ? image[position] : 0xFF;
      sum += frame[i];
    }
    for (int i = 0; i < 4; ++i) frame[FrameData + i] = static_cast<std::uint8_t>(sum >> (8 * i));
    link_.ExpectReply();
    Port().Write(frame, sizeof frame);
    percent += step;
    StageLine("", Percentage(percent));
    std::uint8_t reply = 0;
    switch (link_.WaitReply(FrameReplyMs, reply)) {
      case TLinkWait::Stopped:
        return Interrupted(ResultWrite);
      case TLinkWait::TimedOut:
        StageLine("", Tr("ошибка (нет ответа)", "Error: not answer"));
        return ResultWrite;
      case TLinkWait::Arrived:
        break;
    }
    if (reply == BootByte::LastFrame) break;  // the resident has every announced byte
    if (reply != BootByte::Accepted) {
      // A frame refused for its sum or its programming ends the resident's write phase.
      if (reply == BootByte::FrameSumWrong || reply == BootByte::FrameProgramFailed)
        takingFrames_ = false;
      StageLine("", RefusalStatus(reply));
      return ResultWrite;
    }
  }
  std::uint8_t check[4];
  for (int i = 0; i < 4; ++i)
    check[i] = static_cast<std::uint8_t>(job_->Images.SystemImageSum >> (8 * i));
  link_.ExpectReply();
  Port().Write(check, sizeof check);
  StageLine("", Tr("проверка КС", "CRC checking"));
  std::uint8_t reply = 0;  // no reply counts as the byte 0
  const TLinkWait checked = link_.WaitReply(FrameReplyMs, reply);
  if (checked == TLinkWait::Stopped) return Interrupted(ResultWrite);
  // Whatever it answers to the check word, the resident takes command frames again: the restart
  // then needs only its usual pause, not the write phase's silence.
  if (checked == TLinkWait::Arrived) takingFrames_ = false;
  if (reply != BootByte::CheckWordMatches) {
    StageLine("", RefusalStatus(reply));
    return ResultWrite;
  }
  StageLine("", Tr("выполнено", "done"));
  return ResultSuccess;
}

std::int32_t TSystemWriteThr::RestartSystem() {
  // The pause before the restart frame is kept on a stop too: the resident needs it. A write
  // that ended early left the resident taking frame data: it needs the longer silence.
  std::this_thread::sleep_for(
      std::chrono::milliseconds(takingFrames_ ? WritePhaseSilenceMs : RestartFramePauseMs));
  link_.SendCommand(TBootOpcode::Restart, 0);
  StageLine(Tr("Запуск системы", "System restarting"), Tr("выполнено", "done"));
  return ResultSuccess;
}
