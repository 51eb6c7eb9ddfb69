#include <io.h>
#include <windows.h>

#include "platform/Terminal.h"

namespace plat {

bool IsTerminal(std::FILE* stream) {
  // A console answers GetConsoleMode; a pipe, a file or the NUL device (which _isatty counts as
  // a character device) do not.
  HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  DWORD mode = 0;
  return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

}  // namespace plat
