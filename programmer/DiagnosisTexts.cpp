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
