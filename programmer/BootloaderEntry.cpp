// The connect stage: from the working firmware (or the operator's power cycle) into the
// bootloader, its greeting answered, the port at 115200 bit/s in raw mode.
#include <stdexcept>

#include "appdata/Language.h"
#include "programmer/SystemWriteThrU.h"

std::int32_t TSystemWriteThr::ConnectBootloader() {
  StageLine(Tr("Ожидание ответа загрузчика", "Connecting"), "");
  TReceiverProperties properties = session_->GetProperties();
  TPortIO& port = Port();
  bool reopen = true;
  if (port.IsOpen()) {  // reset "Auto": the session reached the working firmware
    // Only an NMEA line at exactly the bootloader's rate needs no reopening.
    reopen = !(properties.ProtocolCode == ProtocolNmea && properties.Baud == BootRate);
    // A stop before the restart command leaves the receiver in its working firmware.
    if (!link_.Pause(RestartCommandPauseMs)) return Interrupted(ResultConnect);
    // What the receiver said about itself while it was polled (its 0x58 and 0x70 packets).
    if (properties = session_->GetProperties(); properties.ProtocolCode == ProtocolZorp) {
      job_->Identity.ModuleNumber = properties.ModuleNumber;
      job_->Identity.ModuleId = properties.ModuleId;
      job_->Identity.ProductionDate = properties.ProductionDate;
      job_->Identity.DeviceId = properties.DeviceId;
    }
    link_.ExpectText(RestartAnswer);
    session_->Restart(true);
    TLinkWait acknowledged = link_.WaitText(RestartAnswerMs);
    if (acknowledged == TLinkWait::Stopped) return Interrupted(ResultConnect);
    if (acknowledged == TLinkWait::TimedOut) {
      StageLine("",
                Tr("ошибка (нет подтверждения перезапуска)", "Error: no restart acknowledgement"));
      return ResultConnect;
    }
    port.DisarmTimeout();
    if (reopen) port.Close();
  }
  if (reopen) {
    if (job_->Port.Number <= 0)
      throw std::runtime_error("the port name " + job_->Port.Name +
                               " is not COM followed by a number");
    port.SetPort(job_->Port);
    port.LineProps.BaudRate = BootRate;
    port.LineProps.Parity = 0;
    port.SetFramed(false);
    port.Open();
  } else {
    port.SetFramed(false);
  }
  if (!port.IsOpen()) {
    StageLine("", std::string(Tr("ошибка открытия ", "Error: could not open ")) + job_->Port.Name);
    return ResultConnect;
  }
  if (port.Lost()) job_->RequestStop(TStopReason::PortLost);
  link_.ExpectText(BootGreeting);
  if (!link_.Pause(GreetingArmPauseMs)) return Interrupted(ResultConnect);
  for (int k = 0; k < GreetingWaitSeconds; ++k) {
    StageLine("", std::to_string(GreetingWaitSeconds - k) + Tr("сек", "sec"));
    switch (link_.WaitText(1000)) {
      case TLinkWait::Arrived:
        StageLine("", Tr("выполнено", "done"));
        return ResultSuccess;
      case TLinkWait::Stopped:
        // An answered greeting leaves the bootloader waiting for the image: the upload still
        // goes out, so that the resident can be sent the restart command.
        if (link_.GreetingAnswered()) {
          StageLine("", Tr("выполнено", "done"));
          return ResultSuccess;
        }
        return Interrupted(ResultConnect);
      case TLinkWait::TimedOut:
        break;
    }
  }
  StageLine("", Tr("ошибка (нет ответа)", "Error: not answer"));
  return ResultConnect;
}
