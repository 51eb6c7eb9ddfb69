// The adapter behind a serial device: for a USB-serial adapter its identity (vendor and product,
// strings, driver, the stable /dev/serial/by-id name) and its latency timer, read from sysfs;
// and low-latency mode, asked for when a port opens.
//
// A USB-serial adapter passes bytes from the line on to the computer when its buffer is full or
// its latency timer expires; at the usual 16 ms every short answer waits that long. Low-latency
// mode (ASYNC_LOW_LATENCY through TIOCGSERIAL/TIOCSSERIAL) makes drivers that have such a timer
// set it to 1 ms; where the mode is not supported (pseudo-terminals, on-board UARTs) nothing
// happens.
#pragma once

#include <functional>
#include <string>

namespace plat {

// Where the machine describes its devices; tests point both at a fake tree.
struct TSystemRoots {
  std::string Sys;  // sysfs, "/sys"
  std::string Dev;  // the device folder, "/dev" (holds serial/by-id)
  // The roots the COM-name registry uses (its sysfs root) with "/dev".
  static TSystemRoots Current();
};

struct TAdapterInfo {
  std::string TtyName;   // ttyUSB0
  bool Present = false;  // sysfs has a device behind the name
  bool Usb = false;      // a USB device lies above it
  std::string ById;      // /dev/serial/by-id/usb-..., empty when there is none
  std::string VendorId;  // "1a86": four hexadecimal digits as the device reports them
  std::string ProductId;
  std::string Manufacturer;
  std::string Product;
  std::string Serial;
  std::string Driver;       // the kernel driver of the port: ftdi_sio, cp210x, cdc_acm...
  int LatencyTimerMs = -1;  // -1: the adapter has no latency timer
};

// What sysfs tells about the device at `device` (a path such as /dev/ttyUSB0, or a link to it).
// Fields it cannot read stay empty; a device that has gone away gives Present false.
TAdapterInfo ReadAdapterInfo(const std::string& device,
                             const TSystemRoots& roots = TSystemRoots::Current());

// The latency timer of the adapter behind a tty name in milliseconds, -1 when it has none.
int ReadLatencyTimer(const std::string& ttyName,
                     const TSystemRoots& roots = TSystemRoots::Current());

struct TLowLatencyReport {
  std::string Device;           // the path that was opened
  std::string TtyName;          // the device's name in sysfs
  bool LowLatencyMode = false;  // the driver took ASYNC_LOW_LATENCY
  int LatencyTimerMs = -1;      // afterwards; -1 when the adapter has none
};

// Best effort, never fails the open: asks the driver of the open device fd for low-latency mode
// and, when the adapter's latency timer still reads above 1 ms, tries to write 1 to it (which
// needs write permission on the attribute: root, or the udev rule in the README).
TLowLatencyReport RequestLowLatency(int fd, const std::string& path,
                                    const TSystemRoots& roots = TSystemRoots::Current());

// Told of every serial device opened with a latency timer (the command line's advice and trace).
using TLowLatencyObserver = std::function<void(const TLowLatencyReport&)>;
void SetLowLatencyObserver(TLowLatencyObserver observer);

// What TSerialDevice::Open calls: RequestLowLatency, then the observer when the adapter has a
// latency timer.
void ApplyLowLatency(int fd, const std::string& path);

}  // namespace plat
