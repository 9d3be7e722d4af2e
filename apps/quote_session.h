// Internal to the programs we ship: the steps by which quote_recorder and quote_bridge open
// their quote session with the library, connect, log in, fetch the symbol list and register
// what was asked for, and the wait for its end. Main thread only.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "orv_quote_api.h"
#include "session_options.h"
#include "session_sink.h"

// Connects, logs in and fetches the symbol list; "" when done, else why not ("cannot connect
// to ...", "login failed: ..."). Gives up at once, with "", when `stop` is set; the caller
// checks the symbol list in the state.
std::string log_in(OrvQuoteApi* api, session_sink& sink, const session_options& o,
                   const std::atomic<bool>& stop);

// Registers what was asked for among what the server lists; the number registered. The names
// asked for that the server does not list go to `unlisted`.
int register_wanted(OrvQuoteApi* api, const session_options& o, const session_state& state,
                    std::vector<std::string>& unlisted);

using steady = std::chrono::steady_clock;

double seconds_since(steady::time_point start);

// Returns when `stop` is set, --seconds have passed since `start`, the library has given the
// session up or `done` says so; calls `tick` with the seconds since `start` about every
// `every_s` seconds (never when 0). The signal handler only sets `stop`, so the wait looks at it
// a few times a second.
void wait_for_end(const session_sink& sink, const session_options& o, const std::atomic<bool>& stop,
                  steady::time_point start, const std::function<bool()>& done, double every_s,
                  const std::function<void(double)>& tick);
