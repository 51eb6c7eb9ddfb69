// The connect stage: from the working firmware (or the operator's power cycle) into the
// bootloader, its greeting answered, the port at 115200 bit/s in raw mode.
#include "appdata/Language.h"
#include "programmer/SystemWriteThrU.h"

std::int32_t TSystemWriteThr::ConnectBootloader() {
  StageLine(Tr("Ожидание ответа загрузчика", "Connecting"), "");
  if (job_->ResetAuto) {  // the session reached the working firmware: it sends the restart
    // A stop before the restart command leaves the receiver in its working firmware.
    if (!link_.Pause(RestartCommandPauseMs)) return Interrupted(ResultConnect);
    // What the receiver said about itself while it was polled (its 0x58 and 0x70 packets).
    if (const TReceiverProperties properties = session_->GetProperties();
        properties.ProtocolCode == ProtocolZorp) {
      job_->Identity.ModuleNumber = properties.ModuleNumber;
      job_->Identity.ModuleId = properties.ModuleId;
      job_->Identity.ProductionDate = properties.ProductionDate;
      job_->Identity.DeviceId = properties.DeviceId;
    }
    plat::TEvent& acknowledged = session_->RestartAwaiting(RestartAnswer);
    if (auto code = Unanswered(
            link_.Wait(acknowledged, RestartAnswerMs), ResultConnect,
            Tr("ошибка (нет подтверждения перезапуска)", "Error: no restart acknowledgement")))
      return *code;
  }
  // The session hands its port over for the bootloader phase. "Manual" opened it at 115200
  // already, as did "Auto" with NMEA at that rate; any other line is opened again.
  link_.Attach(session_->HandOver(BootRate));
  if (!Port().IsOpen()) {
    StageLine("", std::string(Tr("ошибка открытия ", "Error: could not open ")) + job_->Port.Name);
    return ResultConnect;
  }
  if (Port().Lost()) job_->RequestStop(TStopReason::PortLost);
  link_.ExpectGreeting();
  if (!link_.Pause(GreetingArmPauseMs)) return Interrupted(ResultConnect);
  for (int k = 0; k < GreetingWaitSeconds; ++k) {
    StageLine("", std::to_string(GreetingWaitSeconds - k) + Tr("сек", "sec"));
    const TLinkWait greeting = link_.WaitGreeting(1000);
    if (greeting == TLinkWait::TimedOut) continue;
    // An answered greeting leaves the bootloader waiting for the image: on a stop the upload
    // still goes out, so that the resident can be sent the restart command.
    if (greeting == TLinkWait::Stopped && !link_.GreetingAnswered())
      return Interrupted(ResultConnect);
    StageLine("", Tr("выполнено", "done"));
    return ResultSuccess;
  }
  StageLine("", Tr("ошибка (нет ответа)", "Error: not answer"));
  return ResultConnect;
}
