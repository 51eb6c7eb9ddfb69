// The resident upload through the bootloader, and the erase that opens a programming command.
#include <thread>

#include "appdata/DMU.h"
#include "programmer/SystemWriteThrU.h"

namespace {
constexpr int UploadPauseMs = 300;
constexpr int ResidentAnswerMs = 5000;
constexpr int EraseReplyMs = 30000;

void PutU32(std::vector<std::uint8_t>& bytes, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}
}  // namespace

std::int32_t TSystemWriteThr::UploadResident() {
  StageLine(Tr("Загрузка резидента", "Initialization"), Tr("ждите...", "waiting..."));
  std::this_thread::sleep_for(std::chrono::milliseconds(UploadPauseMs));
  TPortIO& port = Port();
  port.ExpectAnswer(ResidentAnswer);
  std::vector<std::uint8_t> upload;
  upload.reserve(ResidentImage.size() + 8);
  PutU32(upload, ResidentSize);
  PutU32(upload, ResidentSum);
  upload.insert(upload.end(), ResidentImage.begin(), ResidentImage.end());
  port.Write(upload.data(), static_cast<int>(upload.size()));
  if (!port.AnswerEvent.Wait(ResidentAnswerMs)) {
    StageLine("", Tr("ошибка", "Error"));
    return ResultResident;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(UploadPauseMs));
  StageLine("", Tr("выполнено", "done"));
  return ResultSuccess;
}

std::int32_t TSystemWriteThr::EraseFlash() {
  TPortIO& port = Port();
  port.SetFramed(false);
  ReplyEvent.Reset();
  port.OnData.Bind<&TSystemWriteThr::OnAckData>(this);  // stays for the write stage
  SendCommand('3', static_cast<std::uint32_t>(SystemImage.size()));
  // The reply may come while this line is shown: the auto-reset event keeps it.
  StageLine(Tr("Стирание области памяти", "Erasing flash"), Tr("ждите...", "waiting..."));
  std::uint8_t reply = 0;
  if (!WaitAck(EraseReplyMs, reply)) {
    StageLine("", Tr("ошибка (нет ответа)", "Error: not answer"));
    return ResultErase;
  }
  if (reply != 0xAA) {
    StageLine("", RefusalStatus(reply));
    return ResultErase;
  }
  StageLine("", Tr("выполнено", "done"));
  return ResultSuccess;
}
