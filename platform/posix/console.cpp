#include "platform/console.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

namespace platform {

bool stdout_is_terminal() { return isatty(STDOUT_FILENO) != 0; }

namespace {
sigset_t stop_signals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

extern "C" void on_stop_signal(int) {}
}  // namespace

// Blocked in this thread and so in every thread started after it: the signals wait as pending
// until sigwait takes one. A handler of its own replaces the inherited disposition: a shell
// starts background jobs with SIGINT ignored, and an ignored signal is discarded, not kept.
void catch_stop_requests() {
    struct sigaction action = {};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    const sigset_t set = stop_signals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void wait_for_stop_request() {
    const sigset_t set = stop_signals();
    int signal_number = 0;
    while (sigwait(&set, &signal_number) != 0) {
    }
}

}  // namespace platform
