// The connect stage: from the working firmware (or the operator's power cycle) into the
// bootloader, its greeting answered, the port at 115200 bit/s in raw mode.
#include <stdexcept>
#include <thread>

#include "appdata/DMU.h"
#include "programmer/SystemWriteThrU.h"

namespace {

constexpr int GreetingArmPauseMs = 10;

void Pause(int milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

// "COM12" gives 12; anything else is an unexpected failure.
std::int32_t PortNumberOf(const std::string& name) {
  std::int32_t number = ComPortNumber(name);
  if (number <= 0)
    throw std::runtime_error("the port name " + name + " is not COM followed by a number");
  return number;
}

}  // namespace

std::int32_t TSystemWriteThr::ConnectBootloader() {
  std::int32_t result = ResultConnect;
  StageLine(Tr("Ожидание ответа загрузчика", "Connecting"), "");
  TReceiverProperties properties = session_->GetProperties();
  TPortIO& port = Port();
  bool reopen = true;
  if (port.IsOpen()) {  // reset "Auto": the session reached the working firmware
    // Only an NMEA line at exactly the bootloader's rate needs no reopening.
    reopen = !(properties.ProtocolCode == ProtocolNmea && properties.Baud == BootRate);
    Pause(RestartCommandPauseMs);
    port.ExpectAnswer(RestartAnswer);
    port.OnAnswer.Bind<&TSystemWriteThr::OnGreeting>(this);
    session_->Restart(true);
    if (!port.AnswerEvent.Wait(RestartAnswerMs)) {
      StageLine("",
                Tr("ошибка (нет подтверждения перезапуска)", "Error: no restart acknowledgement"));
      return ResultConnect;
    }
    port.DisarmTimeout();
    if (reopen) port.Close();
  }
  if (reopen) {
    port.SetPortNumber(PortNumberOf(Sets.ComPort));
    port.LineProps.BaudRate = BootRate;
    port.LineProps.Parity = 0;
    port.SetFramed(false);
    port.Open();
  } else {
    port.SetFramed(false);
  }
  if (!port.IsOpen()) {
    StageLine("", std::string(Tr("ошибка открытия ", "Error: could not open ")) + Sets.ComPort);
    return ResultConnect;
  }
  port.ExpectAnswer(BootGreeting);
  port.OnAnswer.Bind<&TSystemWriteThr::OnGreeting>(this);
  Pause(GreetingArmPauseMs);
  bool greeted = false;
  for (int k = 0; k < GreetingWaitSeconds && !greeted; ++k) {
    StageLine("", std::to_string(GreetingWaitSeconds - k) + Tr("сек", "sec"));
    greeted = port.AnswerEvent.Wait(1000);
  }
  if (greeted) {
    result = ResultSuccess;
    StageLine("", Tr("выполнено", "done"));
  } else {
    StageLine("", Tr("ошибка (нет ответа)", "Error: not answer"));
  }
  return result;
}
