// Internal. The process's console. Safe from any thread.
#pragma once

namespace platform {

// Whether standard output is a terminal (a live screen may be drawn) rather than a file or pipe.
bool stdout_is_terminal();

}  // namespace platform
