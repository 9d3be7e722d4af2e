// Internal. The process's console. Safe from any thread.
#pragma once

namespace platform {

// Whether standard output is a terminal (a live screen may be drawn) rather than a file or pipe.
bool stdout_is_terminal();

// From here on a request to stop (Ctrl-C and SIGTERM; on Windows Ctrl-C, Ctrl-Break and the
// console's close) no longer ends the process: it ends wait_for_stop_request. Call it before
// any thread starts, so that every thread leaves these requests to that wait.
void catch_stop_requests();
// Blocks, with no timer, until a stop request has come; at once if one came before.
void wait_for_stop_request();

}  // namespace platform
