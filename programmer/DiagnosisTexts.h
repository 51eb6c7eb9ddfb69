// The texts of the search for a receiver's protocol and bit rate, shared by the window's
// diagnosis after "Receiver not answer!" and the command line's probe --scan.
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
