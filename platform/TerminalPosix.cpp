#include <unistd.h>

#include "platform/Terminal.h"

namespace plat {

bool IsTerminal(std::FILE* stream) {
  return isatty(fileno(stream)) != 0;
}

}  // namespace plat
