#include "programmer/DiagnosisTexts.h"

#include "appdata/Language.h"

namespace {

std::string RateText(std::int32_t rate) {
  return std::to_string(rate) + Tr(" бит/с", " bit/s");
}

}  // namespace

std::string ScanTryText(const TScanTry& attempt) {
  return "  " + std::string(ProtocolName(attempt.Protocol)) + ", " + RateText(attempt.Rate);
}

std::string ScanWaitingText() {
  return Tr("ожидание...", "waiting...");
}

std::string ScanOutcomeText(TScanOutcome outcome) {
  return outcome == TScanOutcome::Answered ? Tr("отвечает", "answers")
                                           : Tr("нет ответа", "not answer");
}

std::string ScanAnswerText(const TScanTry& answer) {
  return std::string(Tr("Приемник отвечает: ", "Receiver answers: ")) +
         ProtocolName(answer.Protocol) + ", " + RateText(answer.Rate);
}

std::string ScanNothingAnsweredText() {
  return Tr(
      "Приемник не отвечает ни на одном протоколе и скорости: проверьте кабель, порт и питание "
      "приемника",
      "The receiver answers at no protocol and bit rate: check the cable, the port and the "
      "receiver's power");
}

std::string ResidentTryText() {
  return std::string("  ") + Tr("Резидент", "Resident") + ", " + RateText(115200);
}

std::string ResidentRestartedText() {
  return Tr("перезапущен", "restarted");
}

std::string ResidentWaitsText() {
  return Tr("Приемник ждет в резиденте (задание было прервано)",
            "The receiver waits in its resident (a job was stopped)");
}

std::string ResidentRestartQuestionText() {
  return Tr("Отправить ему команду перезапуска, чтобы он вернулся к прошивке?",
            "Send it the restart command, so that it goes back to its firmware?");
}

std::string ResidentRestartSentText() {
  return Tr("Резиденту отправлена команда перезапуска: приемник возвращается к прошивке",
            "The resident was sent its restart command: the receiver goes back to its firmware");
}

std::string ResidentSilentText() {
  return Tr("Резидент не отвечает: приемник не ждет в загрузчике.",
            "No resident answers: the receiver is not waiting in its bootloader.");
}
