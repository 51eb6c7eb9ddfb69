// The resident upload through the bootloader, and the erase that opens a programming command.
#include <chrono>
#include <thread>

#include "appdata/Language.h"
#include "programmer/SystemWriteThrU.h"

std::int32_t TSystemWriteThr::UploadResident() {
  StageLine(Tr("Загрузка резидента", "Initialization"), Tr("ждите...", "waiting..."));
  // The bootloader waits for the image since its greeting was answered: this stage runs whole
  // up to the resident's announcement even when the job is being stopped (2 s at most), since a
  // bootloader left without its image would need a power cycle.
  std::this_thread::sleep_for(std::chrono::milliseconds(UploadPauseMs));
  // From here on the resident may start: a stop still owes it the restart command.
  residentMayRun_ = true;
  if (auto code =
          Unanswered(link_.UploadResident(job_->Images), ResultResident, Tr("ошибка", "Error")))
    return *code;
  if (!link_.Pause(UploadPauseMs)) return Interrupted(ResultResident);
  StageLine("", Tr("выполнено", "done"));
  return ResultSuccess;
}

std::int32_t TSystemWriteThr::EraseFlash() {
  std::uint8_t reply = 0;
  const TLinkWait erased =
      link_.Erase(static_cast<std::uint32_t>(job_->Images.SystemImage.size()), reply, [this] {
        // The reply may come while this line is shown: the link keeps it.
        StageLine(Tr("Стирание области памяти", "Erasing flash"), Tr("ждите...", "waiting..."));
      });
  if (auto code = Unanswered(erased, ResultErase, Tr("ошибка (нет ответа)", "Error: not answer")))
    return *code;
  if (reply != BootByte::Accepted) {
    StageLine("", RefusalStatus(reply));
    return ResultErase;
  }
  StageLine("", Tr("выполнено", "done"));
  return ResultSuccess;
}
