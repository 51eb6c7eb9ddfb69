// Windows error codes as the errno values the platform interfaces report on every system.
#pragma once

#include <windows.h>

#include <cerrno>

namespace plat {

inline int ErrnoOfWin32Error(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH:
      return ENOENT;
    // A COM port that another program holds answers "access denied".
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
      return EBUSY;
    case ERROR_INVALID_PARAMETER:
      return EINVAL;
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_BAD_COMMAND:
    case ERROR_NOT_READY:
    case ERROR_INVALID_HANDLE:
      return ENXIO;
    default:
      return EIO;
  }
}

}  // namespace plat
