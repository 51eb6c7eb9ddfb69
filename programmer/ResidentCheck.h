// A receiver left waiting in its resident (a job stopped twice, a program killed mid-write) does
// not answer its working protocol. The resident still answers a memory read at 115200 bit/s with
// 128 bytes, and goes back to the firmware on its restart command.
#pragma once

#include "platform/ComRegistry.h"

enum class TResidentProbe {
  Answers,     // two memory reads came back whole and alike: a resident runs
  Silent,      // nothing (or not 128 bytes) came back
  OpenFailed,  // the port could not be opened (the errno in openError)
};

class TJob;

// Reads one block of memory twice through the resident; with restart, sends it the restart
// command when it answered. Blocks for about two seconds (the resident may be taking frame data,
// which it stops after a second of silence). stop: a job whose stop request ends the probe early
// (then Silent, and no restart goes out); none: nothing stops it.
TResidentProbe ProbeResident(const plat::TPortEntry& port, bool restart, int& openError,
                             TJob* stop = nullptr);
