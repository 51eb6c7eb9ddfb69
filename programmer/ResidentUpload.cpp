// The resident upload through the bootloader, and the erase that opens a programming command.
#include <chrono>
#include <thread>

#include "appdata/Language.h"
#include "programmer/SystemWriteThrU.h"

namespace {
void PutU32(std::vector<std::uint8_t>& bytes, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}
}  // namespace

std::int32_t TSystemWriteThr::UploadResident() {
  StageLine(Tr("Загрузка резидента", "Initialization"), Tr("ждите...", "waiting..."));
  // The bootloader waits for the image since its greeting was answered: this stage runs whole
  // up to the resident's announcement even when the job is being stopped (2 s at most), since a
  // bootloader left without its image would need a power cycle.
  std::this_thread::sleep_for(std::chrono::milliseconds(UploadPauseMs));
  const TJobImages& images = job_->Images;
  link_.ExpectText(ResidentAnswer);
  std::vector<std::uint8_t> upload;
  upload.reserve(images.ResidentImage.size() + 8);
  PutU32(upload, images.ResidentSize);
  PutU32(upload, images.ResidentSum);
  upload.insert(upload.end(), images.ResidentImage.begin(), images.ResidentImage.end());
  // From here on the resident may start: a stop still owes it the restart command.
  residentMayRun_ = true;
  Port().Write(upload.data(), static_cast<int>(upload.size()));
  switch (link_.WaitText(ResidentAnswerMs)) {
    case TLinkWait::Stopped:
      return Interrupted(ResultResident);
    case TLinkWait::TimedOut:
      StageLine("", Tr("ошибка", "Error"));
      return ResultResident;
    case TLinkWait::Arrived:
      break;
  }
  if (!link_.Pause(UploadPauseMs)) return Interrupted(ResultResident);
  StageLine("", Tr("выполнено", "done"));
  return ResultSuccess;
}

std::int32_t TSystemWriteThr::EraseFlash() {
  link_.ListenForReplies();  // stays for the write stage
  link_.ExpectReply();
  link_.SendCommand(TBootOpcode::Erase,
                    static_cast<std::uint32_t>(job_->Images.SystemImage.size()));
  // The reply may come while this line is shown: the auto-reset event keeps it.
  StageLine(Tr("Стирание области памяти", "Erasing flash"), Tr("ждите...", "waiting..."));
  std::uint8_t reply = 0;
  switch (link_.WaitReply(EraseReplyMs, reply)) {
    case TLinkWait::Stopped:
      return Interrupted(ResultErase);
    case TLinkWait::TimedOut:
      StageLine("", Tr("ошибка (нет ответа)", "Error: not answer"));
      return ResultErase;
    case TLinkWait::Arrived:
      break;
  }
  if (reply != BootByte::Accepted) {
    StageLine("", RefusalStatus(reply));
    return ResultErase;
  }
  takingFrames_ = true;
  StageLine("", Tr("выполнено", "done"));
  return ResultSuccess;
}
