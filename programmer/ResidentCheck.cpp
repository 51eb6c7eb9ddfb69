#include "programmer/ResidentCheck.h"

#include <chrono>
#include <thread>

#include "programmer/BootloaderLink.h"
#include "programmer/VersionFields.h"
#include "transport/PortIOUEx.h"

TResidentProbe ProbeResident(const plat::TPortEntry& entry, bool restart, int& openError,
                             TJob* stop) {
  TPortIO port;
  port.SetPort(entry);
  port.LineProps.BaudRate = BootRate;
  port.LineProps.Parity = 0;
  port.SetFramed(false);
  port.Open();
  if (!port.IsOpen()) {
    openError = port.LastOpenError();
    return TResidentProbe::OpenFailed;
  }
  TJob own;  // the link's stop request when the caller brings none
  TBootloaderLink link(stop != nullptr ? *stop : own);
  link.Attach(port);
  // A resident that was taking frame data hears commands again after a second of silence.
  link.Pause(WritePhaseSilenceMs);
  link.RealignBlocks();
  bool answers = link.ReadBlock(BootInfoBase) == TLinkWait::Arrived;
  if (answers) {
    // A working firmware that streams at this rate can fill a block with its own sentences. The
    // resident reads the same flash twice alike; a stream never repeats itself (its time moves).
    const auto first = link.Block();
    link.RealignBlocks();
    answers = link.ReadBlock(BootInfoBase) == TLinkWait::Arrived && link.Block() == first;
  }
  if (answers && restart && !link.Stopped()) {
    link.Restart();   // after the usual pause: the write phase's silence has passed already
    link.Pause(100);  // the frame leaves the output ring before the port closes
  }
  link.Detach();
  port.Close();
  return answers ? TResidentProbe::Answers : TResidentProbe::Silent;
}
