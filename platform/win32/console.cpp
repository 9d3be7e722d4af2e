#include "platform/console.h"

#include <windows.h>

namespace platform {

bool stdout_is_terminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

namespace {
HANDLE g_stop_requested = nullptr;  // a manual-reset event, set by the console handler

BOOL WINAPI on_console_event(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
            SetEvent(g_stop_requested);
            return TRUE;
        default:
            return FALSE;
    }
}
}  // namespace

void catch_stop_requests() {
    if (g_stop_requested != nullptr) return;
    g_stop_requested = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    // Without the event Ctrl-C keeps its default, which ends the process.
    if (g_stop_requested != nullptr) SetConsoleCtrlHandler(on_console_event, TRUE);
}

void wait_for_stop_request() {
    // Without the event, for ever: Ctrl-C's default ends the process.
    WaitForSingleObject(g_stop_requested != nullptr ? g_stop_requested : GetCurrentProcess(),
                        INFINITE);
}

}  // namespace platform
