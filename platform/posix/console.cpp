#include "platform/console.h"

#include <unistd.h>

namespace platform {

bool stdout_is_terminal() { return isatty(STDOUT_FILENO) != 0; }

}  // namespace platform
