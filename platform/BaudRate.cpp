// The bit rates a serial port is opened with, the same on every system.
#include "platform/SerialDevice.h"

namespace plat {

int SupportedBaudRate(int requested) {
  switch (requested) {
    case 4800:
    case 9600:
    case 14400:
    case 19200:
    case 38400:
    case 56000:
    case 57600:
    case 115200:
    case 230400:
      return requested;
    default:
      return 115200;
  }
}

}  // namespace plat
