// The texts of the search for a receiver's protocol and bit rate, and of the look for a resident
// left running, shared by the window's diagnosis after "Receiver not answer!" and the command
// line's probe --scan and probe --resident.
#pragma once

#include <string>

#include "receiver/ProtocolScan.h"

// "  NMEA, 115200 bit/s": a try's line.
std::string ScanTryText(const TScanTry& attempt);
// The try's status while it runs: "waiting...".
std::string ScanWaitingText();
// The try's status once it ended: "answers" or "not answer" (Answered or Silent).
std::string ScanOutcomeText(TScanOutcome outcome);
// "Receiver answers: NMEA, 115200 bit/s".
std::string ScanAnswerText(const TScanTry& answer);
// No try answered.
std::string ScanNothingAnsweredText();

// "  Resident, 115200 bit/s": the line of the memory read that finds a resident left running.
std::string ResidentTryText();
// Its status once the resident was sent its restart command: "restarted".
std::string ResidentRestartedText();
// "The receiver waits in its resident (a job was stopped)", without a full stop: the command
// line goes on with what to type, the window with its question.
std::string ResidentWaitsText();
// The window's question after ResidentWaitsText().
std::string ResidentRestartQuestionText();
// The restart command went out.
std::string ResidentRestartSentText();
// probe --resident found none.
std::string ResidentSilentText();
